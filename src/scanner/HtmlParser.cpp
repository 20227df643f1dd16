#include "scanner/HtmlParser.h"

#include "platform/AsciiText.h"
#include "platform/AtomicFile.h"

#include <cstring>

namespace larkspool {

namespace {

bool IsHtmlSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

bool IsAsciiLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool SameName(std::string_view Written, std::string_view Lower) {
    if (Written.size() != Lower.size())
        return false;
    for (std::size_t k = 0; k < Lower.size(); ++k)
        if (LowerAscii(Written[k]) != Lower[k])
            return false;
    return true;
}

// Whether a rel value, quotes included, lists Token among its words.
bool RelNames(std::string_view Rel, std::string_view Token) {
    if (!Rel.empty() && (Rel.front() == '"' || Rel.front() == '\'')) {
        Rel.remove_prefix(1);
        Rel.remove_suffix(1);
    }
    std::size_t i = 0;
    while (i < Rel.size()) {
        while (i < Rel.size() && IsHtmlSpace(Rel[i]))
            ++i;
        std::size_t end = i;
        while (end < Rel.size() && !IsHtmlSpace(Rel[end]))
            ++end;
        if (end > i && SameName(Rel.substr(i, end - i), Token))
            return true;
        i = end;
    }
    return false;
}

// Whether an attribute value, quotes included, is Word in any case.
bool ValueIs(std::string_view Value, std::string_view Word) {
    if (!Value.empty() && (Value.front() == '"' || Value.front() == '\'')) {
        Value.remove_prefix(1);
        Value.remove_suffix(1);
    }
    while (!Value.empty() && IsHtmlSpace(Value.front()))
        Value.remove_prefix(1);
    while (!Value.empty() && IsHtmlSpace(Value.back()))
        Value.remove_suffix(1);
    return SameName(Value, Word);
}

} // namespace

// One attribute a tag form wants, and the kind its value is.
struct Wanted {
    std::string_view Attribute; // lower case
    TTagKind Kind;
};

struct THTMLParser::TagForm {
    std::string_view Name; // lower case
    Wanted Wants[2];       // unused places have tkText
    enum Condition : std::uint8_t {
        Always,
        ByRel,     // link: the kind depends on what rel names
        TypeImage, // input: only a type=image button shows a picture
    } When = Always;
    bool RawText = false; // style: its content is a style sheet, not markup
};

THTMLParser::THTMLParser(std::string Owned)
    : FOwned(std::make_unique<std::string>(std::move(Owned))), FBuffer(FOwned->c_str()),
      FSize(FOwned->size()) {
    FindEnd(FSize);
}

THTMLParser::THTMLParser(const char* Text) : FBuffer(Text) {
    FindEnd(std::strlen(FBuffer));
}

void THTMLParser::FindEnd(std::size_t Limit) {
    const void* zero = std::memchr(FBuffer, 0, Limit);
    FEnd = zero ? static_cast<std::size_t>(static_cast<const char*>(zero) - FBuffer) : Limit;
}

THTMLParser THTMLParser::CreateFromFile(const std::string& FileName) {
    return THTMLParser(ReadWholeFile(FileName));
}

THTMLParser THTMLParser::CreateFromBytes(std::string_view Bytes) {
    return THTMLParser(std::string(Bytes));
}

THTMLParser THTMLParser::CreateFromText(const char* Text) {
    return THTMLParser(Text ? Text : "");
}

std::size_t THTMLParser::NextByteFrom(char c, std::size_t From) const {
    if (From >= FEnd)
        return FEnd;
    const void* p = std::memchr(FBuffer + From, c, FEnd - From);
    return p ? static_cast<std::size_t>(static_cast<const char*>(p) - FBuffer) : FEnd;
}

std::size_t THTMLParser::CachedNext(Search& S, char c, std::size_t From) {
    if (!S.Done || From < S.From || From > S.At) {
        S.From = From;
        S.At = NextByteFrom(c, From);
        S.Done = true;
    }
    return S.At;
}

bool THTMLParser::StartsWithAt(std::size_t At, std::string_view Lower) const {
    return FEnd - At >= Lower.size() && SameName({FBuffer + At, Lower.size()}, Lower);
}

// The form of the tag whose name is Name; every other tag is read for its
// style attribute only.
const THTMLParser::TagForm& THTMLParser::FormOf(std::string_view Name) {
    static constexpr TagForm kForms[] = {
        {"a", {{"href", tkAnchor}, {}}},
        {"img", {{"src", tkImage}, {"srcset", tkSrcset}}},
        {"link", {{"href", tkLink}, {}}, TagForm::ByRel},
        {"frame", {{"src", tkFrame}, {}}},
        {"iframe", {{"src", tkFrame}, {}}},
        {"base", {{"href", tkBase}, {}}},
        {"script", {{"src", tkScript}, {}}},
        {"source", {{"srcset", tkSrcset}, {}}},
        {"input", {{"src", tkPicture}, {}}, TagForm::TypeImage},
        {"video", {{"poster", tkPicture}, {}}},
        {"body", {{"background", tkPicture}, {}}},
        {"table", {{"background", tkPicture}, {}}},
        {"td", {{"background", tkPicture}, {}}},
        {"th", {{"background", tkPicture}, {}}},
        {"style", {{}, {}}, TagForm::Always, true},
    };
    static constexpr TagForm kOther{"", {{}, {}}};
    for (const TagForm& form : kForms)
        if (SameName(Name, form.Name))
            return form;
    return kOther;
}

// "<!-->" and "<!--->" are whole comments, as browsers read them; a comment
// that never ends runs to the end of the text.
void THTMLParser::SkipComment(std::size_t Lt) {
    std::size_t at = Lt + 4;
    if (at < FEnd && FBuffer[at] == '>') {
        FCursor = at + 1;
        return;
    }
    if (StartsWithAt(at, "->")) {
        FCursor = at + 2;
        return;
    }
    const std::size_t end = std::string_view(FBuffer + at, FEnd - at).find("-->");
    if (end == std::string_view::npos) {
        FAtEnd = true;
        return;
    }
    FCursor = at + end + 3;
}

// Reads the attributes of a tag of Form from the end of its name to its ">",
// leaving the cursor behind the tag and the wanted values, in text order, in
// FFound. False when the tag never ends (or a quote in it never closes): it
// is then no tag.
bool THTMLParser::ReadTag(const TagForm& Form, std::size_t NameEnd) {
    FFound.clear();
    FFoundAt = 0;
    std::string_view condition; // the rel or type value, quotes included
    bool haveCondition = false;
    bool seen[3] = {false, false, false}; // the two wanted attributes, then style
    const std::string_view conditionName = Form.When == TagForm::ByRel       ? "rel"
                                           : Form.When == TagForm::TypeImage ? "type"
                                                                             : "";
    std::size_t at = NameEnd;
    for (;;) {
        while (at < FEnd && (IsHtmlSpace(FBuffer[at]) || FBuffer[at] == '/'))
            ++at;
        if (at == FEnd) {
            FAtEnd = true; // a tag that never ends is no tag
            FFound.clear();
            return false;
        }
        if (FBuffer[at] == '>')
            break;
        const std::size_t nameStart = at++; // a name may start with "="
        while (at < FEnd && !IsHtmlSpace(FBuffer[at]) && FBuffer[at] != '/' && FBuffer[at] != '>' &&
               FBuffer[at] != '=')
            ++at;
        const std::string_view name(FBuffer + nameStart, at - nameStart);
        while (at < FEnd && IsHtmlSpace(FBuffer[at]))
            ++at;
        if (at == FEnd || FBuffer[at] != '=')
            continue; // an attribute without a value
        ++at;
        while (at < FEnd && IsHtmlSpace(FBuffer[at]))
            ++at;
        if (at == FEnd) {
            FAtEnd = true;
            FFound.clear();
            return false;
        }
        const std::size_t start = at;
        const char quote = FBuffer[at];
        if (quote == '>') {
            continue; // "=" then ">": an empty value
        } else if (quote == '"' || quote == '\'') {
            const std::size_t closing =
                CachedNext(quote == '"' ? FDoubleQuote : FSingleQuote, quote, start + 1);
            if (closing == FEnd) {
                FCursor = start + 1; // never closed: neither value nor tag
                FFound.clear();
                return false;
            }
            at = closing + 1;
        } else {
            while (at < FEnd && !IsHtmlSpace(FBuffer[at]) && FBuffer[at] != '>')
                ++at;
        }
        for (int w = 0; w < 3; ++w) {
            const Wanted wanted = w < 2 ? Form.Wants[w] : Wanted{"style", tkStyle};
            if (wanted.Kind != tkText && !seen[w] && SameName(name, wanted.Attribute)) {
                seen[w] = true;
                FFound.push_back({start, at, wanted.Kind});
                break;
            }
        }
        if (!haveCondition && !conditionName.empty() && SameName(name, conditionName)) {
            haveCondition = true;
            condition = {FBuffer + start, at - start};
        }
    }
    FCursor = at + 1;
    if (Form.When == TagForm::ByRel)
        ApplyRel(condition);
    else if (Form.When == TagForm::TypeImage && !ValueIs(condition, "image"))
        std::erase_if(FFound, [](const Found& f) { return f.Kind == tkPicture; });
    return true;
}

// A link's href is a style sheet, an icon or a file fetched ahead by its
// rel; any other link (an alternate page, the next one, a feed, ...) is left
// as written.
void THTMLParser::ApplyRel(std::string_view Rel) {
    const TTagKind kind = RelNames(Rel, "stylesheet")                                  ? tkLink
                          : RelNames(Rel, "icon")                                      ? tkIcon
                          : RelNames(Rel, "preload") || RelNames(Rel, "modulepreload") ? tkPreload
                                                                                       : tkText;
    for (Found& found : FFound)
        if (found.Kind == tkLink)
            found.Kind = kind;
    std::erase_if(FFound, [](const Found& f) { return f.Kind == tkText; });
}

// The content of a style element, up to its end tag, as one value; a style
// element that never ends runs to the end of the text, as browsers read it.
void THTMLParser::ReadStyleText() {
    std::size_t at = FCursor;
    for (;;) {
        const std::size_t lt = NextByteFrom('<', at);
        if (lt == FEnd) {
            FAtEnd = true;
            return;
        }
        if (StartsWithAt(lt, "</style")) {
            if (lt > FCursor)
                FFound.push_back({FCursor, lt, tkStyleText});
            FCursor = lt;
            return;
        }
        at = lt + 1;
    }
}

bool THTMLParser::Next() {
    while (!FAtEnd || FFoundAt < FFound.size()) {
        if (FFoundAt < FFound.size()) {
            const Found found = FFound[FFoundAt++];
            FBefore = std::string_view(FBuffer + FChunkStart, found.Start - FChunkStart);
            FValue = std::string_view(FBuffer + found.Start, found.End - found.Start);
            FKind = found.Kind;
            FChunkStart = found.End;
            FAnyValue = true;
            return true;
        }
        const std::size_t lt = NextByteFrom('<', FCursor);
        if (lt == FEnd) {
            FAtEnd = true;
            break;
        }
        FCursor = lt + 1;
        if (StartsWithAt(lt, "</script")) {
            FInScript = false;
            FCursor = lt + 8;
            continue;
        }
        if (FInScript)
            continue;
        if (StartsWithAt(lt, "<script")) {
            FInScript = true;
            FCursor = lt + 7;
            // A script element's own tag is read for its src; what follows
            // it is code, not markup.
            if (lt + 7 < FEnd && (IsHtmlSpace(FBuffer[lt + 7]) || FBuffer[lt + 7] == '/'))
                ReadTag(FormOf("script"), lt + 7);
        } else if (StartsWithAt(lt, "<!--")) {
            SkipComment(lt);
        } else if (lt + 1 < FEnd && IsAsciiLetter(FBuffer[lt + 1])) {
            std::size_t nameEnd = lt + 2;
            while (nameEnd < FEnd && !IsHtmlSpace(FBuffer[nameEnd]) && FBuffer[nameEnd] != '/' &&
                   FBuffer[nameEnd] != '>')
                ++nameEnd;
            const TagForm& form = FormOf({FBuffer + lt + 1, nameEnd - lt - 1});
            if (ReadTag(form, nameEnd) && form.RawText)
                ReadStyleText();
        }
    }

    // End of the text: one closing chunk with the rest, if any value was found.
    if (!FAnyValue)
        return false;
    FBefore =
        std::string_view(FBuffer + FChunkStart, FSize > FChunkStart ? FSize - FChunkStart : 0);
    FValue = {};
    FKind = tkText;
    FAnyValue = false;
    return true;
}

} // namespace larkspool
