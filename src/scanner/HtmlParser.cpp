#include "scanner/HtmlParser.h"

#include "tools/AsciiCase.h"

#include "platform/AtomicFile.h"

#include <cstring>

namespace larkspool {

namespace {

bool IsBlankByte(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

struct TagForm {
    std::string_view Tag; // lower case
    std::string_view Attribute;
    TTagKind Kind;
};

constexpr TagForm kTagForms[] = {
    {"<a ", "href", tkAnchor},
    {"<link", "href", tkLink},
    {"<img ", "src", tkImage},
    {"<frame ", "src", tkFrame},
};

} // namespace

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

std::size_t THTMLParser::NextByteFrom(char c, std::size_t From) {
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

bool THTMLParser::FindAttribute(std::string_view Name) {
    const char first = Name.front();
    for (std::size_t i = FCursor; i + Name.size() <= FEnd; ++i) {
        if (LowerAscii(FBuffer[i]) != first)
            continue;
        std::size_t k = 1;
        while (k < Name.size() && LowerAscii(FBuffer[i + k]) == Name[k])
            ++k;
        if (k == Name.size()) {
            FCursor = i;
            return true;
        }
    }
    return false;
}

bool THTMLParser::ReadValue() {
    const std::size_t equals = NextByteFrom('=', FCursor);
    if (equals == FEnd) {
        FAtEnd = true;
        return false;
    }
    FCursor = equals; // a failure below resumes the tag search here
    const std::size_t greater = CachedNext(FGreater, '>', equals + 1);
    if (greater == FEnd)
        return false;

    std::size_t start = equals + 1;
    while (start < greater && IsBlankByte(FBuffer[start]))
        ++start;
    if (start == greater)
        return false; // "=" then ">": no value

    std::size_t end; // one past the value's last byte
    const char quote = FBuffer[start];
    if (quote == '"' || quote == '\'') {
        const std::size_t closing =
            CachedNext(quote == '"' ? FDoubleQuote : FSingleQuote, quote, start + 1);
        if (closing == FEnd)
            return false; // never closed: no value
        end = closing + 1;
    } else {
        end = start + 1;
        while (end < greater && !IsBlankByte(FBuffer[end]))
            ++end;
    }

    FBefore = std::string_view(FBuffer + FChunkStart, start - FChunkStart);
    FValue = std::string_view(FBuffer + start, end - start);
    FChunkStart = end;
    FCursor = end;
    return true;
}

bool THTMLParser::Next() {
    while (!FAtEnd) {
        const std::size_t lt = NextByteFrom('<', FCursor);
        if (lt == FEnd) {
            FAtEnd = true;
            break;
        }
        FCursor = lt;

        const auto startsWith = [&](std::string_view Tag) {
            if (FEnd - FCursor < Tag.size())
                return false;
            for (std::size_t k = 0; k < Tag.size(); ++k)
                if (LowerAscii(FBuffer[FCursor + k]) != Tag[k])
                    return false;
            return true;
        };

        if (startsWith("<script")) {
            FInScript = true;
            FCursor += 7;
            continue;
        }
        if (startsWith("</script")) {
            FInScript = false;
            FCursor += 8;
            continue;
        }
        const TagForm* form = nullptr;
        for (const TagForm& f : kTagForms) {
            if (startsWith(f.Tag)) {
                form = &f;
                break;
            }
        }
        if (!form) {
            ++FCursor;
            continue;
        }
        if (FInScript) {
            FCursor += form->Tag.size();
            continue;
        }
        if (!FindAttribute(form->Attribute)) {
            FAtEnd = true;
            break;
        }
        if (ReadValue()) {
            FKind = form->Kind;
            return true;
        }
    }

    // End of the text: one closing chunk with the rest, if any value was found.
    if (FChunkStart == 0)
        return false;
    FBefore =
        std::string_view(FBuffer + FChunkStart, FSize > FChunkStart ? FSize - FChunkStart : 0);
    FValue = {};
    FKind = tkText;
    FChunkStart = 0;
    return true;
}

} // namespace larkspool
