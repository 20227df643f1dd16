#pragma once

// Letter case of ASCII letters only: every other byte (UTF-8 included) stays
// as it is, as the program's byte rules want.

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

} // namespace larkspool
