#include "scanner/HtmlParser.h"

#include "platform/AsciiText.h"
#include "platform/AtomicFile.h"

#include <cstring>

namespace larkspool {

namespace {

bool IsHtmlSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
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

} // namespace

struct THTMLParser::TagForm {
    std::string_view Name; // lower case
    std::string_view Attribute;
    TTagKind Kind;
    bool ByRel = false; // the kind depends on what the rel attribute names
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

// The tag form whose name starts at Lt + 1 and ends there, or null.
const THTMLParser::TagForm* THTMLParser::FormAt(std::size_t Lt) const {
    static constexpr TagForm kForms[] = {
        {"a", "href", tkAnchor},   {"img", "src", tkImage},  {"link", "href", tkLink, true},
        {"frame", "src", tkFrame}, {"base", "href", tkBase},
    };
    for (const TagForm& form : kForms) {
        const std::size_t nameEnd = Lt + 1 + form.Name.size();
        if (nameEnd < FEnd && StartsWithAt(Lt + 1, form.Name) &&
            (IsHtmlSpace(FBuffer[nameEnd]) || FBuffer[nameEnd] == '/'))
            return &form;
    }
    return nullptr;
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
// leaving the cursor behind the tag and the wanted value, if any, in FFound.
void THTMLParser::ReadTag(const TagForm& Form, std::size_t NameEnd) {
    Found wanted;
    bool haveWanted = false;
    std::string_view rel;
    bool haveRel = false;
    std::size_t at = NameEnd;
    for (;;) {
        while (at < FEnd && (IsHtmlSpace(FBuffer[at]) || FBuffer[at] == '/'))
            ++at;
        if (at == FEnd) {
            FAtEnd = true; // a tag that never ends is no tag
            return;
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
            return;
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
                return;
            }
            at = closing + 1;
        } else {
            while (at < FEnd && !IsHtmlSpace(FBuffer[at]) && FBuffer[at] != '>')
                ++at;
        }
        if (!haveWanted && SameName(name, Form.Attribute)) {
            haveWanted = true;
            wanted = {start, at, Form.Kind};
        } else if (!haveRel && Form.ByRel && SameName(name, "rel")) {
            haveRel = true;
            rel = {FBuffer + start, at - start};
        }
    }
    FCursor = at + 1;
    if (!haveWanted)
        return;
    if (Form.ByRel) {
        if (RelNames(rel, "stylesheet"))
            wanted.Kind = tkLink;
        else if (RelNames(rel, "icon"))
            wanted.Kind = tkIcon;
        else
            return; // an alternate page, the next one, a feed, ...: left as written
    }
    FFound = wanted;
    FPending = true;
}

bool THTMLParser::Next() {
    while (!FAtEnd || FPending) {
        if (FPending) {
            FPending = false;
            FBefore = std::string_view(FBuffer + FChunkStart, FFound.Start - FChunkStart);
            FValue = std::string_view(FBuffer + FFound.Start, FFound.End - FFound.Start);
            FKind = FFound.Kind;
            FChunkStart = FFound.End;
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
        } else if (StartsWithAt(lt, "<!--")) {
            SkipComment(lt);
        } else if (const TagForm* form = FormAt(lt)) {
            ReadTag(*form, lt + 1 + form->Name.size());
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
