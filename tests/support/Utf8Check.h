#pragma once

// Valid UTF-8 by the standard's rules (no overlong forms, surrogates or code
// points above U+10FFFF). Written apart from the program's own decoding, so
// that tests and fuzzers check it against an independent judge.

#include <string_view>

namespace larkspool::check {

inline bool IsValidUtf8(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size()) {
        const auto b = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
        const unsigned char c = b(i);
        std::size_t n;
        if (c < 0x80)
            n = 1;
        else if (c >= 0xC2 && c <= 0xDF)
            n = 2;
        else if (c >= 0xE0 && c <= 0xEF)
            n = 3;
        else if (c >= 0xF0 && c <= 0xF4)
            n = 4;
        else
            return false;
        if (i + n > s.size())
            return false;
        for (std::size_t k = 1; k < n; ++k)
            if ((b(i + k) & 0xC0) != 0x80)
                return false;
        if ((c == 0xE0 && b(i + 1) < 0xA0) || (c == 0xED && b(i + 1) >= 0xA0) ||
            (c == 0xF0 && b(i + 1) < 0x90) || (c == 0xF4 && b(i + 1) >= 0x90))
            return false;
        i += n;
    }
    return true;
}

} // namespace larkspool::check
