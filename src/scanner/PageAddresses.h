#pragma once

// What a link value of a page means, as a browser reads it.

#include <string>
#include <string_view>

namespace larkspool {

// The text of a value as written (quotes included): without its quotes, tabs
// and line breaks, its character references decoded ("&amp;" is "&"), and
// without the blanks and controls around it.
std::string LinkText(std::string_view Value);

// The address Text (from LinkText) stands for on a page whose addresses
// start from Base, in the form a browser gives it (CanonicalURL); empty for
// an empty text.
std::string ResolveLink(std::string_view Base, std::string_view Text);

// Where the relative addresses of a page at PageURL start: the href of the
// first <base> of its text that has one, resolved against PageURL, when it
// leads to the web; else PageURL itself.
std::string PageBase(std::string_view PageURL, const char* Text);

} // namespace larkspool
