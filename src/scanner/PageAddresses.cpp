#include "scanner/PageAddresses.h"

#include "scanner/CharacterReferences.h"
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

std::string AttributeText(std::string_view Value) {
    if (Value.size() >= 2 && (Value.front() == '"' || Value.front() == '\'') &&
        Value.back() == Value.front()) {
        Value.remove_prefix(1);
        Value.remove_suffix(1);
    }
    return DecodeCharacterReferences(Value);
}

std::string ResolveLink(std::string_view Base, std::string_view Text) {
    return CanonicalURL(ResolveURL(Base, Text));
}

ScannedPage ScanPage(THTMLParser& Parser, std::string_view PageURL) {
    ScannedPage page{{}, std::string(PageURL)};
    bool baseSeen = false;
    while (Parser.Next()) {
        page.Chunks.push_back({Parser.Before(), Parser.Value(), Parser.Kind()});
        if (Parser.Kind() != tkBase || baseSeen)
            continue;
        baseSeen = true;
        const std::string text = LinkText(Parser.Value());
        const std::string base = ResolveLink(PageURL, text);
        // A base of another kind (javascript:, data:) is one browsers ignore.
        if (!text.empty() && IsHttpAddress(base))
            page.Base = base;
    }
    return page;
}

} // namespace larkspool
