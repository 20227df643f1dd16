#pragma once

// Pieces of address handling every layer shares: "." and ".." segments, and
// percent-encoding of the bytes a caller names.

#include <string>
#include <string_view>

namespace larkspool {

// "." and ".." segments of a path resolved as RFC 3986 section 5.2.4 does.
std::string RemoveDotSegments(std::string_view Path);

// Appends Text with every byte for which Encodes(byte) holds written as
// "%XX" (upper-case hex); "%" is whatever Encodes says, so escapes already
// present survive unless it names "%".
template <typename Predicate>
void AppendPercentEncoded(std::string& Out, std::string_view Text, Predicate Encodes) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    for (const char c : Text) {
        const auto byte = static_cast<unsigned char>(c);
        if (Encodes(byte)) {
            Out += '%';
            Out += kHex[byte >> 4];
            Out += kHex[byte & 0x0F];
        } else {
            Out += c;
        }
    }
}

} // namespace larkspool
