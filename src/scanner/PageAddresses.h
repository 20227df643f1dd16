#pragma once

// What a link value of a page means, as a browser reads it.

#include "scanner/HtmlParser.h"

#include <string>
#include <string_view>
#include <vector>

namespace larkspool {

// The text of a value as written (quotes included): without its quotes, tabs
// and line breaks, its character references decoded ("&amp;" is "&"), and
// without the blanks and controls around it.
std::string LinkText(std::string_view Value);

// The text of an attribute value as written (a style, a srcset): without its
// quotes, its character references decoded, its whitespace kept (it separates
// CSS tokens and srcset candidates).
std::string AttributeText(std::string_view Value);

// The address Text (from LinkText) stands for on a page whose addresses
// start from Base, in the form a browser gives it (CanonicalURL); empty for
// an empty text.
std::string ResolveLink(std::string_view Base, std::string_view Text);

// One chunk of a scan; the views point into the scanner's text.
struct PageChunk {
    std::string_view Before, Value;
    TTagKind Kind;
};

// All chunks of a page at PageURL, in one pass, and where its relative
// addresses start: the href of its first <base> that has one, resolved
// against PageURL, when it leads to the web; else PageURL itself.
struct ScannedPage {
    std::vector<PageChunk> Chunks;
    std::string Base;
};
ScannedPage ScanPage(THTMLParser& Parser, std::string_view PageURL);

} // namespace larkspool
