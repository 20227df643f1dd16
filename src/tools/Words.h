#pragma once

// Splitting the space-separated keyword and extension settings into words.
// A word is a maximal run of bytes that are not in Delimiters; runs of
// delimiters and delimiters at either end make no empty words. With an empty
// Delimiters the whole (non-empty) text is one word.

#include <cstddef>
#include <string>
#include <string_view>

namespace larkspool {

std::size_t CountWords(std::string_view S, std::string_view Delimiters);

// The N-th word (N from 1), or empty when N is below 1 or above the count.
std::string NthWord(int N, std::string_view S, std::string_view Delimiters);

} // namespace larkspool
