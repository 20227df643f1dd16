#include "scanner/CharacterReferences.h"

#include "platform/AsciiText.h"
#include "scanner/NamedCharacterReferences.inc"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>

namespace larkspool {

namespace {

// Any number above this is out of range; clamping here keeps long digit runs
// from overflowing.
constexpr std::uint32_t kPastLastCodePoint = 0x110000;

// What 0x80 to 0x9F stand for in references: the Windows-1252 characters,
// except for the five bytes that encoding leaves undefined (kept as they are).
constexpr char32_t kWindows1252[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

bool IsAsciiDigit(char c) {
    return c >= '0' && c <= '9';
}

bool IsAsciiAlphanumeric(char c) {
    return IsAsciiDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

char32_t NumericReferenceCode(std::uint32_t Number) {
    if (Number == 0 || Number >= kPastLastCodePoint || (Number >= 0xD800 && Number <= 0xDFFF))
        return 0xFFFD;
    if (Number >= 0x80 && Number <= 0x9F)
        return kWindows1252[Number - 0x80];
    return static_cast<char32_t>(Number);
}

// A numeric reference at Text[At] == '&', Text[At + 1] == '#': appends what it
// stands for and returns the number of bytes it takes, or 0 when no digit
// follows (then it is no reference).
std::size_t DecodeNumeric(std::string_view Text, std::size_t At, std::string& Out) {
    std::size_t i = At + 2;
    const bool hex = i < Text.size() && (Text[i] == 'x' || Text[i] == 'X');
    if (hex)
        ++i;
    const std::uint32_t base = hex ? 16 : 10;
    const std::size_t digitsStart = i;
    std::uint32_t number = 0;
    for (; i < Text.size(); ++i) {
        const int digit =
            hex ? HexDigitValue(Text[i]) : (IsAsciiDigit(Text[i]) ? Text[i] - '0' : -1);
        if (digit < 0)
            break;
        number = std::min(number * base + static_cast<std::uint32_t>(digit), kPastLastCodePoint);
    }
    if (i == digitsStart)
        return 0;
    if (i < Text.size() && Text[i] == ';')
        ++i;
    AppendUtf8(Out, NumericReferenceCode(number));
    return i - At;
}

// The longest name in the table that Text starts with, or nullptr. The table
// is sorted, so the names sharing the first n bytes of Text form one run; each
// further byte narrows the run, and a name exactly n bytes long comes first in
// it.
const NamedCharacterReference* LongestNamePrefix(std::string_view Text) {
    const NamedCharacterReference* first = std::begin(kNamedCharacterReferences);
    const NamedCharacterReference* last = std::end(kNamedCharacterReferences);
    const NamedCharacterReference* found = nullptr;
    const std::size_t limit = std::min(Text.size(), kLongestCharacterReferenceName);
    for (std::size_t n = 0; n < limit && first != last; ++n) {
        const char c = Text[n];
        // Names shorter than n + 1 bytes sort first in the run; skip them.
        first = std::partition_point(first, last, [n, c](const NamedCharacterReference& r) {
            return r.Name.size() <= n ||
                   static_cast<unsigned char>(r.Name[n]) < static_cast<unsigned char>(c);
        });
        last = std::partition_point(
            first, last, [n, c](const NamedCharacterReference& r) { return r.Name[n] == c; });
        if (first != last && first->Name.size() == n + 1)
            found = first;
    }
    return found;
}

// A named reference at Text[At] == '&': appends what it stands for and returns
// the number of bytes it takes, or 0 when it is to stay as written.
std::size_t DecodeNamed(std::string_view Text, std::size_t At, std::string& Out) {
    const std::string_view rest = Text.substr(At + 1);
    const NamedCharacterReference* match = LongestNamePrefix(rest);
    if (match == nullptr)
        return 0;
    const std::size_t length = match->Name.size();
    // An old name without ';' right before '=' or a letter or digit is most
    // likely part of a query string such as "?a=1&copy=2", not a reference.
    if (match->Name.back() != ';' && length < rest.size() &&
        (rest[length] == '=' || IsAsciiAlphanumeric(rest[length])))
        return 0;
    Out += match->Text;
    return 1 + length;
}

} // namespace

std::string DecodeCharacterReferences(std::string_view Value) {
    std::size_t amp = Value.find('&');
    if (amp == std::string_view::npos)
        return std::string(Value);

    std::string out;
    out.reserve(Value.size());
    std::size_t done = 0;
    while (amp != std::string_view::npos) {
        out.append(Value, done, amp - done);
        std::size_t taken = 0;
        if (amp + 1 < Value.size()) {
            const char next = Value[amp + 1];
            if (next == '#')
                taken = DecodeNumeric(Value, amp, out);
            else if (IsAsciiAlphanumeric(next))
                taken = DecodeNamed(Value, amp, out);
        }
        if (taken == 0) {
            // Not a reference: the '&' stays, and the scan goes on behind it
            // (what follows holds no '&' up to the next one found).
            out += '&';
            taken = 1;
        }
        done = amp + taken;
        amp = Value.find('&', done);
    }
    out.append(Value, done);
    return out;
}

void AppendUtf8(std::string& Out, char32_t Code) {
    if (Code < 0x80) {
        Out += static_cast<char>(Code);
    } else if (Code < 0x800) {
        Out += static_cast<char>(0xC0 | (Code >> 6));
        Out += static_cast<char>(0x80 | (Code & 0x3F));
    } else if (Code < 0x10000) {
        Out += static_cast<char>(0xE0 | (Code >> 12));
        Out += static_cast<char>(0x80 | ((Code >> 6) & 0x3F));
        Out += static_cast<char>(0x80 | (Code & 0x3F));
    } else {
        Out += static_cast<char>(0xF0 | (Code >> 18));
        Out += static_cast<char>(0x80 | ((Code >> 12) & 0x3F));
        Out += static_cast<char>(0x80 | ((Code >> 6) & 0x3F));
        Out += static_cast<char>(0x80 | (Code & 0x3F));
    }
}

} // namespace larkspool
