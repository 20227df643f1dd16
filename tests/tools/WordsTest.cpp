#include "tools/Words.h"

#include <gtest/gtest.h>

using namespace larkspool;

TEST(Words, RunsOfDelimitersMakeNoEmptyWords) {
    const char* text = "  zip  exe ";
    EXPECT_EQ(CountWords(text, " "), 2u);
    EXPECT_EQ(NthWord(1, text, " "), "zip");
    EXPECT_EQ(NthWord(2, text, " "), "exe");
    EXPECT_EQ(NthWord(3, text, " "), "");
    EXPECT_EQ(NthWord(0, text, " "), "");
    EXPECT_EQ(NthWord(-1, text, " "), "");
}

TEST(Words, EveryByteOfTheDelimiterStringDelimits) {
    EXPECT_EQ(CountWords("a,b;;c", ",;"), 3u);
    EXPECT_EQ(NthWord(3, "a,b;;c", ",;"), "c");
    EXPECT_EQ(CountWords("a\xE9z", "\xE9"), 2u); // high bytes are delimiters too
    EXPECT_EQ(NthWord(2, "a\xE9z", "\xE9"), "z");
}

TEST(Words, EmptyInputsAndEmptyDelimiters) {
    EXPECT_EQ(CountWords("", " "), 0u);
    EXPECT_EQ(CountWords("    ", " "), 0u);
    EXPECT_EQ(NthWord(1, "   ", " "), "");
    EXPECT_EQ(CountWords("one two", ""), 1u);
    EXPECT_EQ(NthWord(1, "one two", ""), "one two");
    EXPECT_EQ(CountWords("", ""), 0u);
    EXPECT_EQ(NthWord(1, "", ""), "");
}

TEST(Words, SingleWordWithoutDelimiters) {
    EXPECT_EQ(CountWords("jpg", " "), 1u);
    EXPECT_EQ(NthWord(1, "jpg", " "), "jpg");
}
