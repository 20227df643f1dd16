#pragma once

// Letter case of ASCII letters only: every other byte (UTF-8 included) stays
// as it is, as the program's byte rules want; and hexadecimal digits.

#include <string>
#include <string_view>

namespace larkspool {

inline char LowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

inline std::string LowerAscii(std::string_view Text) {
    std::string lower(Text);
    for (char& c : lower)
        c = LowerAscii(c);
    return lower;
}

// The value of a hexadecimal digit, or -1 for any other byte.
inline int HexDigitValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace larkspool
