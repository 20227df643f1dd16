#include "scanner/CharacterReferences.h"

#include "scanner/NamedCharacterReferences.inc"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

using namespace larkspool;

namespace {

using Cases = std::vector<std::pair<std::string, std::string>>;

void ExpectDecoded(const Cases& cases) {
    for (const auto& [value, decoded] : cases)
        EXPECT_EQ(DecodeCharacterReferences(value), decoded) << "value: " << value;
}

} // namespace

TEST(CharacterReferencesNamed, CommonNamesWithSemicolon) {
    ExpectDecoded({
        {"&amp;", "&"},
        {"&lt;", "<"},
        {"&gt;", ">"},
        {"&quot;", "\""},
        {"&apos;", "'"},
        {"&nbsp;", "\xc2\xa0"},
        {"&notin;", "∉"},
        {"&Eacute;t&eacute;", "Été"},
        {"a &amp; b &lt; c", "a & b < c"},
        {"&amp;&amp;&lt;", "&&<"},
        {"&amp;amp;", "&amp;"},
    });
}

TEST(CharacterReferencesNamed, NamesAreCaseSensitive) {
    ExpectDecoded({
        {"&AMP;", "&"},
        {"&aMp;", "&aMp;"},
        {"&Amp;", "&Amp;"},
        {"&Ouml;&ouml;", "Öö"},
    });
}

TEST(CharacterReferencesNamed, NamesStandingForTwoCodePoints) {
    ExpectDecoded({
        {"&NotEqualTilde;", "\xe2\x89\x82\xcc\xb8"}, // U+2242 U+0338
        {"&nGt;", "\xe2\x89\xab\xe2\x83\x92"},       // U+226B U+20D2
        {"&fjlig;", "fj"},
        {"x&bne;y", "x=\xe2\x83\xa5y"}, // '=' U+20E5
    });
}

TEST(CharacterReferencesNamed, OldNamesWithoutSemicolon) {
    ExpectDecoded({
        {"&amp", "&"},
        {"&copy 2024", "© 2024"},
        {"&lt&gt", "<>"},
        {"&amp;x&lt", "&x<"},
        {"&not-it", "¬-it"},
        {"&copy;", "©"},
        {"&not;in", "¬in"},
    });
}

TEST(CharacterReferencesNamed, OldNameBeforeEqualsOrAlphanumericStays) {
    ExpectDecoded({
        {"&copy=", "&copy="},
        {"?a=1&copy=2", "?a=1&copy=2"},
        {"&ampx", "&ampx"},
        {"&amp1", "&amp1"},
        {"&notit;", "&notit;"},
        {"&notit", "&notit"},
        // "notin" is a name only with its ';', so without it the old name
        // "not" matches, and it is followed by a letter.
        {"&notin", "&notin"},
        {"&notin=", "&notin="},
        {"&ltX&gt", "&ltX>"},
        {"page?x=1&lang=en&reg=2", "page?x=1&lang=en&reg=2"},
        // With its ';' a name is decoded whatever follows.
        {"&copy;=", "©="},
        {"&amp;x", "&x"},
    });
}

TEST(CharacterReferencesNamed, UnknownNamesStay) {
    ExpectDecoded({
        {"&foo;", "&foo;"},
        {"&foo", "&foo"},
        {"&;", "&;"},
        {"& amp;", "& amp;"},
        {"&&amp;", "&&"},
        {"&1;", "&1;"},
        {"&xyzzy&amp;", "&xyzzy&"},
        {"&Notin;", "&Notin;"},
    });
}

TEST(CharacterReferencesNumeric, DecimalAndHex) {
    ExpectDecoded({
        {"&#39;", "'"},
        {"&#x27;", "'"},
        {"&#X41;", "A"},
        {"&#x41;&#x62;", "Ab"},
        {"&#xe9;", "é"},
        {"&#xE9;", "é"},
        {"&#233;", "é"},
        {"&#8364;", "€"},
        {"&#x1F600;", "\xf0\x9f\x98\x80"},
        {"&#x10FFFF;", "\xf4\x8f\xbf\xbf"},
        {"&#0065;", "A"},
        {"&#x000041;", "A"},
    });
}

TEST(CharacterReferencesNumeric, MissingSemicolonStillDecodes) {
    ExpectDecoded({
        {"&#39", "'"},
        {"&#39x", "'x"},
        {"&#65=", "A="},
        {"&#x41g", "Ag"},
        {"&#x41 ", "A "},
        {"&#x4G", "\x04G"},
    });
}

TEST(CharacterReferencesNumeric, WithoutDigitsNothingIsDecoded) {
    ExpectDecoded({
        {"&", "&"},
        {"a&", "a&"},
        {"&#", "&#"},
        {"&#;", "&#;"},
        {"&#x", "&#x"},
        {"&#x;", "&#x;"},
        {"&#X;", "&#X;"},
        {"&#xg;", "&#xg;"},
        {"&#a;", "&#a;"},
        {"&# 1;", "&# 1;"},
        {"&#-1;", "&#-1;"},
    });
}

TEST(CharacterReferencesNumeric, OutOfRangeGivesReplacementCharacter) {
    ExpectDecoded({
        {"&#0;", "\xef\xbf\xbd"},
        {"&#x0;", "\xef\xbf\xbd"},
        {"&#xD800;", "\xef\xbf\xbd"},
        {"&#xDFFF;", "\xef\xbf\xbd"},
        {"&#xD7FF;", "\xed\x9f\xbf"},
        {"&#xE000;", "\xee\x80\x80"},
        {"&#x110000;", "\xef\xbf\xbd"},
        {"&#1114112;", "\xef\xbf\xbd"},
        {"&#1114111;", "\xf4\x8f\xbf\xbf"},
        {"&#99999999999999999999;", "\xef\xbf\xbd"},
        {"&#xFFFFFFFFFFFFFFFFFFFF41;", "\xef\xbf\xbd"},
        // A number that wraps around to a small value in 32 or 64 bits.
        {"&#4294967361;", "\xef\xbf\xbd"},
        {"&#x100000041;", "\xef\xbf\xbd"},
        {"&#x10000000000000041;", "\xef\xbf\xbd"},
    });
}

TEST(CharacterReferencesNumeric, C1NumbersMeanWindows1252) {
    ExpectDecoded({
        {"&#x80;", "€"},
        {"&#128;", "€"},
        {"&#x99;", "™"},
        {"&#x82;", "‚"},
        {"&#x8A;", "Š"},
        {"&#x9F;", "Ÿ"},
        {"&#x93;x&#x94;", "“x”"},
        // The five the encoding leaves undefined stay as they are.
        {"&#x81;", "\xc2\x81"},
        {"&#x8D;", "\xc2\x8d"},
        {"&#x8F;", "\xc2\x8f"},
        {"&#x90;", "\xc2\x90"},
        {"&#x9D;", "\xc2\x9d"},
        // Neighbours are not affected.
        {"&#x7F;", "\x7f"},
        {"&#xA0;", "\xc2\xa0"},
        {"&#13;", "\r"},
    });
}

TEST(CharacterReferencesText, UrlsInAttributeValues) {
    ExpectDecoded({
        {"c.gif?v=2&amp;p=1", "c.gif?v=2&p=1"},
        {"c.gif?v=2&p=1", "c.gif?v=2&p=1"},
        {"/search?q=a&amp;lang=en&amp;sect=3", "/search?q=a&lang=en&sect=3"},
        {"/s?x=1&sect=3&para=2", "/s?x=1&sect=3&para=2"},
        {"http://h/a&#x2F;b", "http://h/a/b"},
    });
}

TEST(CharacterReferencesText, OtherBytesPassUnchanged) {
    const std::string bytes("\x00\x01\xff\xfe\xc3(\x80 <>\"'=;#x", 16);
    EXPECT_EQ(DecodeCharacterReferences(bytes), bytes);
    EXPECT_EQ(DecodeCharacterReferences(""), "");
    EXPECT_EQ(DecodeCharacterReferences("plain text"), "plain text");

    const std::string around = std::string("\xff\x00", 2) + "&amp;" + std::string("\x00\x80", 2);
    EXPECT_EQ(DecodeCharacterReferences(around), std::string("\xff\x00&\x00\x80", 5));
    // A zero byte ends neither a name nor the value.
    EXPECT_EQ(DecodeCharacterReferences(std::string("&amp\0;", 6)), std::string("&\0;", 3));
    EXPECT_EQ(DecodeCharacterReferences(std::string("&#65\0", 5)), std::string("A\0", 2));
    EXPECT_EQ(DecodeCharacterReferences("&\xc3\xa9;"), "&\xc3\xa9;");
    EXPECT_EQ(DecodeCharacterReferences("&amp\xc3\xa9"), "&\xc3\xa9");
}

TEST(CharacterReferencesText, LongValuesDecodeCompletely) {
    std::string many, expected;
    for (int i = 0; i < 100000; ++i) {
        many += "&amp;&#x41;&";
        expected += "&A&";
    }
    EXPECT_EQ(DecodeCharacterReferences(many), expected);

    EXPECT_EQ(DecodeCharacterReferences("&#" + std::string(1000000, '9') + ";x"), "\xef\xbf\xbdx");
    const std::string letters(1000000, 'a');
    EXPECT_EQ(DecodeCharacterReferences("&" + letters), "&" + letters);
}

TEST(CharacterReferencesTable, SortedUniqueAndComplete) {
    const auto& table = kNamedCharacterReferences;
    EXPECT_EQ(std::size(table), 2231u);
    std::size_t longest = 0, withoutSemicolon = 0;
    for (std::size_t i = 0; i < std::size(table); ++i) {
        const std::string_view name = table[i].Name;
        ASSERT_FALSE(name.empty());
        EXPECT_FALSE(table[i].Text.empty()) << name;
        if (i > 0) {
            EXPECT_LT(table[i - 1].Name, name) << "the lookup needs the table sorted";
        }
        longest = std::max(longest, name.size());
        if (name.back() != ';') {
            ++withoutSemicolon;
            // Every old name also exists with its ';', standing for the same.
            const std::string withSemicolon = std::string(name) + ";";
            EXPECT_EQ(DecodeCharacterReferences("&" + withSemicolon), table[i].Text) << name;
        }
    }
    EXPECT_EQ(longest, kLongestCharacterReferenceName);
    EXPECT_EQ(withoutSemicolon, 106u);
}

TEST(CharacterReferencesTable, EveryNameIsFound) {
    for (const NamedCharacterReference& r : kNamedCharacterReferences) {
        const std::string name(r.Name);
        const std::string text(r.Text);
        EXPECT_EQ(DecodeCharacterReferences("&" + name), text) << name;
        EXPECT_EQ(DecodeCharacterReferences("<&" + name + " &" + name + ">"),
                  "<" + text + " " + text + ">")
            << name;
        // Before '=' only a name with its ';' is decoded.
        const std::string beforeEquals = "&" + name + "=";
        EXPECT_EQ(DecodeCharacterReferences(beforeEquals),
                  r.Name.back() == ';' ? text + "=" : beforeEquals)
            << name;
    }
}
