#pragma once

// ASCII-only text rules: letter case, blanks and hexadecimal digits. Every
// other byte (UTF-8 included) stays as it is, as the program's byte rules want.

#include <algorithm>
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

inline bool EqualsNoCase(std::string_view A, std::string_view B) {
    return A.size() == B.size() && std::equal(A.begin(), A.end(), B.begin(), [](char a, char b) {
               return LowerAscii(a) == LowerAscii(b);
           });
}

inline bool StartsWithNoCase(std::string_view Text, std::string_view Prefix) {
    return Text.size() >= Prefix.size() && EqualsNoCase(Text.substr(0, Prefix.size()), Prefix);
}

// Space, tab, carriage return and line feed: the blanks of headers, settings
// lines and typed values.
inline bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

inline std::string_view TrimBlanks(std::string_view Text) {
    while (!Text.empty() && IsBlank(Text.front()))
        Text.remove_prefix(1);
    while (!Text.empty() && IsBlank(Text.back()))
        Text.remove_suffix(1);
    return Text;
}

// Space and every control byte below it, as browsers strip around a value
// read from a page.
inline std::string_view TrimControls(std::string_view Text) {
    while (!Text.empty() && static_cast<unsigned char>(Text.front()) <= ' ')
        Text.remove_prefix(1);
    while (!Text.empty() && static_cast<unsigned char>(Text.back()) <= ' ')
        Text.remove_suffix(1);
    return Text;
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
