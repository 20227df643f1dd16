// Character references on arbitrary bytes: no read outside the value, and the
// properties callers rely on.
#include "scanner/CharacterReferences.h"

#include "scanner/NamedCharacterReferences.inc"

#include "support/Utf8Check.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

using namespace larkspool;

using larkspool::check::IsValidUtf8;

namespace {

// How much a value can grow, as a fraction Growth / Length: the largest ratio
// of extra bytes to reference length over all names. Numeric references never
// grow: a 3-byte character needs at least "&#0" (3 bytes) and a 4-byte one at
// least "&#65536" (7 bytes).
struct Ratio {
    std::size_t Growth = 0, Length = 1;
};

Ratio LargestGrowth() {
    Ratio worst;
    for (const NamedCharacterReference& r : kNamedCharacterReferences) {
        const std::size_t length = 1 + r.Name.size();
        if (r.Text.size() > length) {
            const std::size_t growth = r.Text.size() - length;
            if (growth * worst.Length > worst.Growth * length)
                worst = {growth, length};
        }
    }
    return worst;
}

const Ratio kWorst = LargestGrowth();

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // libFuzzer's own buffer, which ends exactly after the value, so that the
    // sanitizer sees any read past it (a string's terminator would hide one).
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const std::string decoded = DecodeCharacterReferences(bytes);

    // References do not overlap, so the value grows at most by the worst
    // ratio over its whole length.
    if (decoded.size() > bytes.size() + bytes.size() * kWorst.Growth / kWorst.Length)
        std::abort();

    if (bytes.find('&') == std::string_view::npos && decoded != bytes)
        std::abort();

    // References only stand for valid characters and never take part of a
    // multi-byte sequence, so valid UTF-8 stays valid.
    if (IsValidUtf8(bytes) && !IsValidUtf8(decoded))
        std::abort();

    // Escaping every '&' as "&amp;" gives back the bytes exactly.
    std::string escaped;
    for (const char c : bytes) {
        if (c == '&')
            escaped += "&amp;";
        else
            escaped += c;
    }
    if (DecodeCharacterReferences(escaped) != bytes)
        std::abort();
    return 0;
}
