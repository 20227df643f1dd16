#include "scanner/PageAddresses.h"

#include "scanner/CharacterReferences.h"
#include "scanner/HtmlParser.h"
#include "tools/UrlHelpers.h"

namespace larkspool {

namespace {

bool IsBreak(char c) {
    return c == '\t' || c == '\n' || c == '\r';
}

bool IsBlankOrControl(char c) {
    return static_cast<unsigned char>(c) <= ' ';
}

} // namespace

std::string LinkText(std::string_view Value) {
    std::string text = DecodeCharacterReferences(CleanAttributeValue(Value));
    // A reference may stand for a line break or tab, which addresses drop.
    if (text.find_first_of("\t\n\r") != std::string::npos)
        std::erase_if(text, IsBreak);
    std::size_t start = 0, end = text.size();
    while (start < end && IsBlankOrControl(text[start]))
        ++start;
    while (end > start && IsBlankOrControl(text[end - 1]))
        --end;
    return text.substr(start, end - start);
}

std::string ResolveLink(std::string_view Base, std::string_view Text) {
    return CanonicalURL(ResolveURL(Base, Text));
}

std::string PageBase(std::string_view PageURL, const char* Text) {
    THTMLParser parser = THTMLParser::CreateFromText(Text);
    while (parser.Next()) {
        if (parser.Kind() != tkBase)
            continue;
        const std::string text = LinkText(parser.Value());
        const std::string base = ResolveLink(PageURL, text);
        // A base of another kind (javascript:, data:) is one browsers ignore.
        return !text.empty() && IsHttpAddress(base) ? base : std::string(PageURL);
    }
    return std::string(PageURL);
}

} // namespace larkspool
