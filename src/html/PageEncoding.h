#pragma once

// The bytes a page from the browser is stored as.
//
// The browser hands the markup over as UTF-8. Opened offline, the stored file
// is decoded by what it declares, so the bytes must agree with that:
//  - When the markup's charset declaration (a meta tag within the first 1024
//    bytes, where browsers look for it) names the document's own character
//    set, the page is stored in that character set: as it is for UTF-8,
//    converted otherwise, with characters the set cannot hold written as
//    numeric character references so that none is lost.
//  - Otherwise (no declaration, a declaration the browser overrode, a
//    character set without an ASCII-compatible form or unknown here) the page
//    is stored as UTF-8 behind a byte order mark, which browsers honour before
//    any declaration.

#include <string>
#include <string_view>

namespace larkspool {

std::string EncodeDocumentMarkup(std::string_view Utf8Markup, std::string_view CharacterSet);

// The charset named by the first meta declaration within the first 1024
// bytes, or empty.
std::string DeclaredCharset(std::string_view Markup);

} // namespace larkspool
