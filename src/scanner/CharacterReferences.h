#pragma once

// Character references ("&amp;", "&#39;", "&copy") in attribute values, read
// the way browsers read them inside an attribute value:
//  - "&#" with decimal digits, or "&#x" / "&#X" with hex digits, and an
//    optional ';'. Code point 0, a surrogate or anything above U+10FFFF gives
//    U+FFFD; 0x80 to 0x9F give the Windows-1252 characters pages meant by them
//    (0x81, 0x8D, 0x8F, 0x90 and 0x9D stay). Without digits nothing is decoded.
//  - "&" and a name: the longest known name the text starts with. A name
//    written without its ';' (only the old ones allow that) that is followed
//    by '=' or an ASCII letter or digit is left as written, so query strings
//    such as "?a=1&copy=2" keep their meaning.
// Everything else, including bytes that are not UTF-8, is copied unchanged.

#include <string>
#include <string_view>

namespace larkspool {

// Text of an attribute value with its character references replaced by
// the characters they stand for, encoded as UTF-8.
std::string DecodeCharacterReferences(std::string_view Value);

// Appends the UTF-8 form of a code point (up to U+10FFFF).
void AppendUtf8(std::string& Out, char32_t Code);

} // namespace larkspool
