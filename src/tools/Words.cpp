#include "tools/Words.h"

#include <array>

namespace larkspool {

namespace {

// One flag per byte value, filled from the delimiter string on every call so
// that the functions stay re-entrant.
class DelimiterTable {
public:
    explicit DelimiterTable(std::string_view Delimiters) {
        for (char c : Delimiters)
            FFlags[static_cast<unsigned char>(c)] = true;
    }
    bool operator()(char c) const { return FFlags[static_cast<unsigned char>(c)]; }

private:
    std::array<bool, 256> FFlags{};
};

// Calls Visit(start, length) for every word in order until it returns false.
template <typename F> void ForEachWord(std::string_view S, std::string_view Delimiters, F Visit) {
    const DelimiterTable isDelimiter(Delimiters);
    const std::size_t n = S.size();
    std::size_t i = 0;
    while (i < n) {
        while (i < n && isDelimiter(S[i]))
            ++i;
        if (i == n)
            return;
        const std::size_t start = i;
        while (i < n && !isDelimiter(S[i]))
            ++i;
        if (!Visit(start, i - start))
            return;
    }
}

} // namespace

std::size_t CountWords(std::string_view S, std::string_view Delimiters) {
    std::size_t count = 0;
    ForEachWord(S, Delimiters, [&](std::size_t, std::size_t) {
        ++count;
        return true;
    });
    return count;
}

std::string NthWord(int N, std::string_view S, std::string_view Delimiters) {
    std::string word;
    if (N < 1)
        return word;
    int seen = 0;
    ForEachWord(S, Delimiters, [&](std::size_t start, std::size_t length) {
        if (++seen < N)
            return true;
        word.assign(S.substr(start, length));
        return false;
    });
    return word;
}

} // namespace larkspool
