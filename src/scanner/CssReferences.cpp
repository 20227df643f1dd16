#include "scanner/CssReferences.h"

#include "platform/AsciiText.h"
#include "scanner/CharacterReferences.h"

#include <cstdint>

namespace larkspool {

namespace {

// Bytes are read as ints so that the end of the text (-1) fails every test.
constexpr int End = -1;

bool IsNewline(int c) {
    return c == '\n' || c == '\r' || c == '\f';
}
bool IsWhitespace(int c) {
    return c == ' ' || c == '\t' || IsNewline(c);
}
bool IsDigit(int c) {
    return c >= '0' && c <= '9';
}
bool IsHexDigit(int c) {
    return c >= 0 && HexDigitValue(static_cast<char>(c)) >= 0;
}
bool IsLetter(int c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
// A NUL stands for U+FFFD, and every byte of a multi-byte character is >= 0x80.
bool IsIdentStart(int c) {
    return IsLetter(c) || c == '_' || c >= 0x80 || c == 0;
}
bool IsIdentChar(int c) {
    return IsIdentStart(c) || IsDigit(c) || c == '-';
}
bool IsNonPrintable(int c) {
    return (c >= 0x01 && c <= 0x08) || c == 0x0b || (c >= 0x0e && c <= 0x1f) || c == 0x7f;
}

constexpr std::string_view ReplacementCharacter = "\xEF\xBF\xBD";

enum class TokenType {
    EndOfText,
    Whitespace, // blanks and comments alike: nothing here tells them apart
    Ident,
    Function,
    AtKeyword,
    Hash,
    String,
    BadString,
    Url,
    BadUrl,
    Number,
    Delim,
    OpenParen,
    CloseParen,
    OpenBracket,
    CloseBracket,
    OpenBrace,
    CloseBrace,
    Semicolon,
    Other // comma, colon, <!-- and -->
};

struct Token {
    TokenType Type = TokenType::EndOfText;
    std::size_t Start = 0, End = 0;
};

// The tokens of CSS text as browsers cut it. Names, strings and url values
// are decoded into Value(); everything else is only skipped over. Each byte
// is looked at a bounded number of times, whatever the input.
class CssTokenizer {
public:
    explicit CssTokenizer(std::string_view Css) : FText(Css) {}

    Token Next();
    // The next token that is not whitespace or a comment.
    Token NextSignificant() {
        Token t = Next();
        while (t.Type == TokenType::Whitespace)
            t = Next();
        return t;
    }
    const std::string& Value() const { return FValue; }
    std::size_t Position() const { return FPos; }
    void Rewind(std::size_t Position) { FPos = Position; }

private:
    int At(std::size_t I) const {
        return I < FText.size() ? static_cast<unsigned char>(FText[I]) : End;
    }
    bool IsValidEscape(std::size_t I) const { return At(I) == '\\' && !IsNewline(At(I + 1)); }
    bool StartsIdent(std::size_t I) const {
        const int c = At(I);
        if (c == '-')
            return IsIdentStart(At(I + 1)) || At(I + 1) == '-' || IsValidEscape(I + 1);
        return IsIdentStart(c) || IsValidEscape(I);
    }
    bool StartsNumber(std::size_t I) const {
        const int c = At(I);
        if (c == '+' || c == '-')
            return IsDigit(At(I + 1)) || (At(I + 1) == '.' && IsDigit(At(I + 2)));
        if (c == '.')
            return IsDigit(At(I + 1));
        return IsDigit(c);
    }
    void SkipWhitespace() {
        while (IsWhitespace(At(FPos)))
            ++FPos;
    }
    void ConsumeEscape(std::string& Out);
    void SkipEscape();
    void ConsumeIdentSequence();
    void ConsumeString(int Quote, Token& T);
    void ConsumeNumber();
    void ConsumeIdentLike(Token& T);
    void ConsumeUrl(Token& T);
    void ConsumeBadUrlRemnants();

    std::string_view FText;
    std::size_t FPos = 0;
    std::string FValue;
};

// After the backslash of a valid escape.
void CssTokenizer::ConsumeEscape(std::string& Out) {
    const int c = At(FPos);
    if (c == End) {
        Out += ReplacementCharacter;
        return;
    }
    if (IsHexDigit(c)) {
        std::uint32_t code = 0;
        for (int n = 0; n < 6 && IsHexDigit(At(FPos)); ++n, ++FPos)
            code =
                code * 16 + static_cast<std::uint32_t>(HexDigitValue(static_cast<char>(At(FPos))));
        if (At(FPos) == '\r' && At(FPos + 1) == '\n')
            FPos += 2;
        else if (IsWhitespace(At(FPos)))
            ++FPos;
        if (code == 0 || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF)
            Out += ReplacementCharacter;
        else
            AppendUtf8(Out, static_cast<char32_t>(code));
        return;
    }
    ++FPos;
    if (c == 0)
        Out += ReplacementCharacter;
    else
        Out += static_cast<char>(c);
}

void CssTokenizer::SkipEscape() {
    if (!IsHexDigit(At(FPos))) {
        if (At(FPos) != End)
            ++FPos;
        return;
    }
    for (int n = 0; n < 6 && IsHexDigit(At(FPos)); ++n)
        ++FPos;
    if (At(FPos) == '\r' && At(FPos + 1) == '\n')
        FPos += 2;
    else if (IsWhitespace(At(FPos)))
        ++FPos;
}

void CssTokenizer::ConsumeIdentSequence() {
    FValue.clear();
    for (;;) {
        const int c = At(FPos);
        if (IsIdentChar(c)) {
            if (c == 0)
                FValue += ReplacementCharacter;
            else
                FValue += static_cast<char>(c);
            ++FPos;
        } else if (IsValidEscape(FPos)) {
            ++FPos;
            ConsumeEscape(FValue);
        } else {
            return;
        }
    }
}

// After the opening quote. A line break ends it as a bad string and stays
// for the next token; the end of the text ends it as a good one.
void CssTokenizer::ConsumeString(int Quote, Token& T) {
    FValue.clear();
    T.Type = TokenType::String;
    for (;;) {
        // Copy the run of ordinary bytes at once.
        std::size_t run = FPos;
        while (run < FText.size()) {
            const char c = FText[run];
            if (c == Quote || c == '\\' || c == '\n' || c == '\r' || c == '\f' || c == '\0')
                break;
            ++run;
        }
        FValue.append(FText, FPos, run - FPos);
        FPos = run;
        const int c = At(FPos);
        if (c == End)
            return;
        if (c == Quote) {
            ++FPos;
            return;
        }
        if (IsNewline(c)) {
            T.Type = TokenType::BadString;
            return;
        }
        if (c == 0) {
            FValue += ReplacementCharacter;
            ++FPos;
            continue;
        }
        // A backslash: the end of the text, a line continuation, or an escape.
        ++FPos;
        if (At(FPos) == End)
            return;
        if (At(FPos) == '\r' && At(FPos + 1) == '\n')
            FPos += 2;
        else if (IsNewline(At(FPos)))
            ++FPos;
        else
            ConsumeEscape(FValue);
    }
}

void CssTokenizer::ConsumeNumber() {
    if (At(FPos) == '+' || At(FPos) == '-')
        ++FPos;
    while (IsDigit(At(FPos)))
        ++FPos;
    if (At(FPos) == '.' && IsDigit(At(FPos + 1))) {
        FPos += 2;
        while (IsDigit(At(FPos)))
            ++FPos;
    }
    if ((At(FPos) == 'e' || At(FPos) == 'E') &&
        (IsDigit(At(FPos + 1)) ||
         ((At(FPos + 1) == '+' || At(FPos + 1) == '-') && IsDigit(At(FPos + 2))))) {
        FPos += 2;
        while (IsDigit(At(FPos)))
            ++FPos;
    }
    // A unit makes it a dimension ("10url(" is no url), '%' a percentage.
    if (StartsIdent(FPos))
        ConsumeIdentSequence();
    else if (At(FPos) == '%')
        ++FPos;
}

void CssTokenizer::ConsumeIdentLike(Token& T) {
    ConsumeIdentSequence();
    if (At(FPos) != '(') {
        T.Type = TokenType::Ident;
        return;
    }
    ++FPos;
    if (!EqualsNoCase(FValue, "url")) {
        T.Type = TokenType::Function;
        return;
    }
    // url( with a quote, after blanks, is a function around a string; else
    // the address is written without quotes.
    while (IsWhitespace(At(FPos)) && IsWhitespace(At(FPos + 1)))
        ++FPos;
    const int c = At(FPos);
    const int d = At(FPos + 1);
    if (c == '"' || c == '\'' || (IsWhitespace(c) && (d == '"' || d == '\''))) {
        T.Type = TokenType::Function;
        return;
    }
    ConsumeUrl(T);
}

void CssTokenizer::ConsumeUrl(Token& T) {
    FValue.clear();
    T.Type = TokenType::Url;
    SkipWhitespace();
    for (;;) {
        const int c = At(FPos);
        if (c == End)
            return;
        if (c == ')') {
            ++FPos;
            return;
        }
        if (IsWhitespace(c)) {
            SkipWhitespace();
            if (At(FPos) == End)
                return;
            if (At(FPos) == ')') {
                ++FPos;
                return;
            }
            break;
        }
        if (c == '"' || c == '\'' || c == '(' || IsNonPrintable(c))
            break;
        if (c == '\\') {
            if (!IsValidEscape(FPos))
                break;
            ++FPos;
            ConsumeEscape(FValue);
            continue;
        }
        if (c == 0)
            FValue += ReplacementCharacter;
        else
            FValue += static_cast<char>(c);
        ++FPos;
    }
    ConsumeBadUrlRemnants();
    T.Type = TokenType::BadUrl;
}

// The rest of a bad url: up to its ")" (an escaped one does not count) or
// the end of the text.
void CssTokenizer::ConsumeBadUrlRemnants() {
    for (;;) {
        const int c = At(FPos);
        if (c == End)
            return;
        if (c == ')') {
            ++FPos;
            return;
        }
        if (IsValidEscape(FPos)) {
            ++FPos;
            SkipEscape();
        } else {
            ++FPos;
        }
    }
}

// The token a single punctuation byte makes; Delim for any other byte.
TokenType PunctuationType(int c) {
    switch (c) {
    case '(':
        return TokenType::OpenParen;
    case ')':
        return TokenType::CloseParen;
    case '[':
        return TokenType::OpenBracket;
    case ']':
        return TokenType::CloseBracket;
    case '{':
        return TokenType::OpenBrace;
    case '}':
        return TokenType::CloseBrace;
    case ';':
        return TokenType::Semicolon;
    case ',':
    case ':':
        return TokenType::Other;
    default:
        return TokenType::Delim;
    }
}

Token CssTokenizer::Next() {
    Token t;
    t.Start = FPos;
    const int c = At(FPos);
    if (c == End) {
        t.End = FPos;
        return t;
    }
    if (c == '/' && At(FPos + 1) == '*') {
        const std::size_t close = FText.find("*/", FPos + 2);
        FPos = close == std::string_view::npos ? FText.size() : close + 2;
        t.Type = TokenType::Whitespace;
    } else if (IsWhitespace(c)) {
        SkipWhitespace();
        t.Type = TokenType::Whitespace;
    } else if (c == '"' || c == '\'') {
        ++FPos;
        ConsumeString(c, t);
    } else if (c == '#') {
        ++FPos;
        if (IsIdentChar(At(FPos)) || IsValidEscape(FPos)) {
            ConsumeIdentSequence();
            t.Type = TokenType::Hash;
        } else {
            t.Type = TokenType::Delim;
        }
    } else if (const TokenType punctuation = PunctuationType(c); punctuation != TokenType::Delim) {
        ++FPos;
        t.Type = punctuation;
    } else if (StartsNumber(FPos)) {
        ConsumeNumber();
        t.Type = TokenType::Number;
    } else if (c == '-' && At(FPos + 1) == '-' && At(FPos + 2) == '>') {
        FPos += 3;
        t.Type = TokenType::Other;
    } else if (c == '<' && At(FPos + 1) == '!' && At(FPos + 2) == '-' && At(FPos + 3) == '-') {
        FPos += 4;
        t.Type = TokenType::Other;
    } else if (c == '@' && StartsIdent(FPos + 1)) {
        ++FPos;
        ConsumeIdentSequence();
        t.Type = TokenType::AtKeyword;
    } else if (StartsIdent(FPos)) {
        ConsumeIdentLike(t);
    } else {
        ++FPos;
        t.Type = TokenType::Delim;
    }
    t.End = FPos;
    return t;
}

// What an open block closes with; image-set( is told apart because its
// own strings are addresses.
enum class Block : char { Paren, ImageSet, Bracket, Brace };

// Every reference; with Joins, also whether each follows a name, number or
// delimiter so closely that a "url(" put in its place would join it
// ("@import'a.css'", "1x'b.png'", "\\('c.png'").
std::vector<CssReference> Find(std::string_view Css, std::vector<bool>* Joins) {
    std::vector<CssReference> refs;
    CssTokenizer tokens(Css);
    Token previous;
    std::vector<Block> blocks;
    bool afterImport = false; // the last token was @import
    bool inNamespace = false; // inside an @namespace rule: its address names, it is no file

    auto add = [&](std::size_t Start, std::size_t End, std::string_view Text, bool Import) {
        const std::string_view text = TrimControls(Text); // as an address is read
        if (text.empty() || inNamespace)
            return;
        if (Joins) {
            const TokenType p = previous.Type;
            Joins->push_back(previous.End == Start && Start > 0 &&
                             (p == TokenType::Ident || p == TokenType::AtKeyword ||
                              p == TokenType::Hash || p == TokenType::Number ||
                              p == TokenType::Delim));
        }
        CssReference ref;
        ref.Start = Start;
        ref.End = End;
        ref.Text.assign(text);
        ref.Import = Import;
        refs.push_back(std::move(ref));
    };
    auto close = [&](Block Kind) {
        if (!blocks.empty() &&
            (blocks.back() == Kind || (Kind == Block::Paren && blocks.back() == Block::ImageSet)))
            blocks.pop_back();
    };

    Token t;
    for (;; previous = t) {
        t = tokens.Next();
        if (t.Type == TokenType::EndOfText)
            break;
        if (t.Type == TokenType::Whitespace)
            continue;
        const bool importing = afterImport;
        afterImport = false;
        switch (t.Type) {
        case TokenType::AtKeyword:
            if (EqualsNoCase(tokens.Value(), "import"))
                afterImport = true;
            else if (EqualsNoCase(tokens.Value(), "namespace"))
                inNamespace = true;
            break;
        case TokenType::Url:
            add(t.Start, t.End, tokens.Value(), importing);
            break;
        case TokenType::String:
            if (importing || (!blocks.empty() && blocks.back() == Block::ImageSet))
                add(t.Start, t.End, tokens.Value(), importing);
            break;
        case TokenType::Function: {
            const std::string& name = tokens.Value();
            if (EqualsNoCase(name, "url")) {
                // url("x"): the string and the ")", blanks and comments
                // around them allowed. Anything else in it makes it no
                // reference, and its tokens are read again as usual.
                const std::size_t resume = tokens.Position();
                const Token string = tokens.NextSignificant();
                if (string.Type == TokenType::String) {
                    std::string text = tokens.Value();
                    const Token end = tokens.NextSignificant();
                    if (end.Type == TokenType::CloseParen || end.Type == TokenType::EndOfText) {
                        add(t.Start, end.End, text, importing);
                        t = end;
                        break;
                    }
                }
                tokens.Rewind(resume);
                blocks.push_back(Block::Paren);
            } else if (EqualsNoCase(name, "image-set") || EqualsNoCase(name, "-webkit-image-set")) {
                blocks.push_back(Block::ImageSet);
            } else {
                blocks.push_back(Block::Paren);
            }
            break;
        }
        case TokenType::OpenParen:
            blocks.push_back(Block::Paren);
            break;
        case TokenType::OpenBracket:
            blocks.push_back(Block::Bracket);
            break;
        case TokenType::OpenBrace:
            inNamespace = false;
            blocks.push_back(Block::Brace);
            break;
        case TokenType::CloseParen:
            close(Block::Paren);
            break;
        case TokenType::CloseBracket:
            close(Block::Bracket);
            break;
        case TokenType::CloseBrace:
            inNamespace = false;
            close(Block::Brace);
            break;
        case TokenType::Semicolon:
            inNamespace = false;
            break;
        default:
            break;
        }
    }
    return refs;
}

void AppendCssString(std::string& Out, std::string_view Value) {
    Out += '"';
    for (const char c : Value) {
        switch (c) {
        case '"':
            Out += "\\\"";
            break;
        case '\\':
            Out += "\\\\";
            break;
        // A hex escape ends at the blank after it, so a following hex digit stays.
        case '\n':
            Out += "\\a ";
            break;
        case '\r':
            Out += "\\d ";
            break;
        case '\f':
            Out += "\\c ";
            break;
        default:
            Out += c;
        }
    }
    Out += '"';
}

} // namespace

std::vector<CssReference> FindCssReferences(std::string_view Css) {
    return Find(Css, nullptr);
}

std::string
RewriteCss(std::string_view Css,
           const std::function<std::optional<std::string>(const CssReference&)>& Replace) {
    std::string out;
    out.reserve(Css.size());
    std::size_t copied = 0;
    std::vector<bool> joins;
    const std::vector<CssReference> refs = Find(Css, &joins);
    for (std::size_t i = 0; i < refs.size(); ++i) {
        const CssReference& ref = refs[i];
        const std::optional<std::string> value = Replace(ref);
        if (!value)
            continue;
        out.append(Css, copied, ref.Start - copied);
        // After an escape such as "\\a" one blank would only end the escape.
        if (joins[i])
            out += IsHexDigit(static_cast<unsigned char>(Css[ref.Start - 1])) ? "  " : " ";
        out += "url(";
        AppendCssString(out, *value);
        out += ')';
        copied = ref.End;
    }
    out.append(Css, copied);
    return out;
}

} // namespace larkspool
