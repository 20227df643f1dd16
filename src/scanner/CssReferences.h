#pragma once

// The other files a style sheet refers to: url(...) values, the sheets of
// @import rules and the strings of image-set(). Found by tokenizing the text
// as browsers do, so that comments, strings that merely mention "url(" and
// escapes are read the way the browser reads them.

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace larkspool {

// One reference to another file inside CSS text.
struct CssReference {
    // Byte range of the whole piece a rewrite replaces: for url(...) from
    // "url(" (any case) through ")"; for @import "x" / @import 'x' and the
    // strings of image-set() the string token with its quotes.
    std::size_t Start = 0, End = 0;
    // The address as written: CSS escapes decoded, surrounding whitespace gone.
    std::string Text;
    // Target of an @import (a style sheet to follow), else a picture, font,
    // cursor...
    bool Import = false;
};

// Every reference of a style sheet (or of a <style> element's text, or of a
// style attribute's decoded value), in text order. Not references: the
// addresses of @namespace (names, not files), bad url()s, empty ones, and
// url("x" modifier) with anything but blanks after its string. data: addresses
// are returned; the caller decides. A url() or string cut off by the end of
// the text still counts, its range running to the end.
std::vector<CssReference> FindCssReferences(std::string_view Css);

// Css with each reference for which Replace returns a value replaced by
// url("value") (the value escaped for a CSS string: \" \\ and line breaks as
// \a ), everything else byte for byte. Where a replaced string directly
// follows a name, number or delimiter ("@import'a.css'", "1x'b.png'"), a
// blank goes before the url( so that it does not join them.
std::string
RewriteCss(std::string_view Css,
           const std::function<std::optional<std::string>(const CssReference&)>& Replace);

} // namespace larkspool
