#include "html/PageEncoding.h"

#include <gtest/gtest.h>

using namespace larkspool;

namespace {
const std::string kBom = "\xEF\xBB\xBF";
}

TEST(PageEncoding, FindsTheFirstDeclarationWhereBrowsersLook) {
    EXPECT_EQ(DeclaredCharset("<html><head><META CHARSET=\"Windows-1251\">"), "Windows-1251");
    EXPECT_EQ(DeclaredCharset("<meta http-equiv=Content-Type content='text/html; charset=koi8-r'>"),
              "koi8-r");
    EXPECT_EQ(DeclaredCharset("<meta name=x><meta charset=utf-8/>"), "utf-8");
    EXPECT_EQ(DeclaredCharset("<html><body>charset=utf-8</body>"), "");
    EXPECT_EQ(DeclaredCharset(std::string(1100, ' ') + "<meta charset=utf-8>"), "");
}

TEST(PageEncoding, DeclaredUtf8IsStoredAsItIs) {
    const std::string page =
        "<html><head><meta charset=\"utf-8\"></head><body>Привет</body></html>";
    EXPECT_EQ(EncodeDocumentMarkup(page, "UTF-8"), page);
}

TEST(PageEncoding, DeclaredLegacyCharsetIsStoredInItWithReferencesForTheRest) {
    const std::string page = "<html><head><meta charset=windows-1251></head>"
                             "<body>Привет € 日本</body></html>";
    EXPECT_EQ(EncodeDocumentMarkup(page, "windows-1251"),
              "<html><head><meta charset=windows-1251></head><body>\xCF\xF0\xE8\xE2\xE5\xF2 "
              "\x88 &#26085;&#26412;</body></html>");
}

TEST(PageEncoding, StatefulCharsetGetsReferencesFromItsInitialState) {
    const std::string page = "<html><head><meta charset=ISO-2022-JP></head><body>日Ж本é</body>";
    const std::string stored = EncodeDocumentMarkup(page, "ISO-2022-JP");
    // é cannot be held: its reference stands in plain ASCII after the shift back
    EXPECT_NE(stored.find("\x1b(B&#233;"), std::string::npos) << stored;
    EXPECT_EQ(stored.rfind("<html>", 0), 0u);
}

TEST(PageEncoding, WithoutAMatchingDeclarationUtf8WithAByteOrderMark) {
    const std::string plain = "<html><body>é</body></html>";
    EXPECT_EQ(EncodeDocumentMarkup(plain, "UTF-8"), kBom + plain);
    EXPECT_EQ(EncodeDocumentMarkup(plain, "windows-1252"), kBom + plain);
    // the browser overrode the page's own declaration (a header said otherwise)
    const std::string overridden = "<html><head><meta charset=windows-1251></head>é</html>";
    EXPECT_EQ(EncodeDocumentMarkup(overridden, "UTF-8"), kBom + overridden);
    // wide or unknown character sets
    const std::string wide = "<html><head><meta charset=utf-16le></head>é</html>";
    EXPECT_EQ(EncodeDocumentMarkup(wide, "UTF-16LE"), kBom + wide);
    const std::string odd = "<html><head><meta charset=x-no-such-set></head>é</html>";
    EXPECT_EQ(EncodeDocumentMarkup(odd, "x-no-such-set"), kBom + odd);
}
