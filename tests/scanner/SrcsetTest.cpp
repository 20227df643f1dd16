#include "scanner/Srcset.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

using namespace larkspool;

namespace {

// The URLs of a srcset, each checked to be the text of its range.
std::vector<std::string> Urls(const std::string& Text) {
    std::vector<std::string> urls;
    std::size_t last = 0;
    for (const SrcsetCandidate& c : ParseSrcset(Text)) {
        EXPECT_LE(last, c.Start) << Text;
        EXPECT_LT(c.Start, c.End) << Text;
        EXPECT_LE(c.End, Text.size()) << Text;
        EXPECT_EQ(Text.substr(c.Start, c.End - c.Start), c.Url) << Text;
        last = c.End;
        urls.push_back(c.Url);
    }
    return urls;
}

using Strings = std::vector<std::string>;

} // namespace

TEST(SrcsetParse, DensityAndWidthDescriptors) {
    EXPECT_EQ(Urls("a.png 1x, b.png 2x"), (Strings{"a.png", "b.png"}));
    EXPECT_EQ(Urls("small.jpg 480w,large.jpg 1080w"), (Strings{"small.jpg", "large.jpg"}));
    EXPECT_EQ(Urls("a.png"), (Strings{"a.png"}));
    EXPECT_EQ(Urls("a.png, b.png 1.5x"), (Strings{"a.png", "b.png"}));
    EXPECT_EQ(Urls("a.png\t1x,\nb.png\f2x,\r\nc.png 3x"), (Strings{"a.png", "b.png", "c.png"}));
}

TEST(SrcsetParse, Ranges) {
    const auto c = ParseSrcset(" ,, a.png 1x,b.png");
    ASSERT_EQ(c.size(), 2u);
    EXPECT_EQ(c[0].Start, 4u);
    EXPECT_EQ(c[0].End, 9u);
    EXPECT_EQ(c[1].Start, 13u);
    EXPECT_EQ(c[1].End, 18u);
}

TEST(SrcsetParse, CommasInsideUrlsStay) {
    EXPECT_EQ(Urls("a,b.jpg 1x"), (Strings{"a,b.jpg"}));
    EXPECT_EQ(Urls("a.jpg,b.jpg"), (Strings{"a.jpg,b.jpg"}));
    EXPECT_EQ(Urls("data:image/png;base64,AAA= 1x, b.png 2x"),
              (Strings{"data:image/png;base64,AAA=", "b.png"}));
    EXPECT_EQ(Urls("/img?w=1,2 1x"), (Strings{"/img?w=1,2"}));
}

TEST(SrcsetParse, TrailingCommasEndTheCandidate) {
    EXPECT_EQ(Urls("a.png, b.png"), (Strings{"a.png", "b.png"}));
    EXPECT_EQ(Urls("a.png,,, b.png 2x"), (Strings{"a.png", "b.png"}));
    EXPECT_EQ(Urls("a.png,b.png,"), (Strings{"a.png,b.png"}));
    // Without descriptors, what follows after the comma is the next URL.
    EXPECT_EQ(Urls("a.png, 2x"), (Strings{"a.png", "2x"}));
}

TEST(SrcsetParse, DescriptorsRunToACommaOutsideParentheses) {
    EXPECT_EQ(Urls("a.png 1x (x, y) 2x, b.png 2x"), (Strings{"a.png", "b.png"}));
    EXPECT_EQ(Urls("a.png f(1,2),b.png"), (Strings{"a.png", "b.png"}));
    // An unclosed "(" takes the rest.
    EXPECT_EQ(Urls("a.png 1x (, b.png 2x"), (Strings{"a.png"}));
    // Parentheses do not nest: the first ")" closes.
    EXPECT_EQ(Urls("a.png ((1), b.png"), (Strings{"a.png", "b.png"}));
    // Descriptors a browser would refuse still leave the URL listed.
    EXPECT_EQ(Urls("a.png 1x 2x, b.png foo"), (Strings{"a.png", "b.png"}));
}

TEST(SrcsetParse, EmptyCandidates) {
    EXPECT_EQ(Urls(""), Strings{});
    EXPECT_EQ(Urls("   \t\n"), Strings{});
    EXPECT_EQ(Urls(",,, ,"), Strings{});
    EXPECT_EQ(Urls(", , a.png 1x, , , b.png 2x ,"), (Strings{"a.png", "b.png"}));
}

TEST(SrcsetRewrite, KeepingEverythingGivesTheTextBack) {
    for (const std::string& text :
         Strings{"", "a.png", " ,a.png 1x,, b.png (2x, 3x) ,", "a,b.jpg 1x", "a.png 1x (, b.png",
                 std::string("a\0b.png 1x,\xff", 12)})
        EXPECT_EQ(RewriteSrcset(text, [](const SrcsetCandidate&) { return std::nullopt; }), text);
}

TEST(SrcsetRewrite, UrlsReplacedDescriptorsKept) {
    const auto local = [](const SrcsetCandidate& C) -> std::optional<std::string> {
        if (C.Url.starts_with("keep"))
            return std::nullopt;
        return "local/" + C.Url;
    };
    EXPECT_EQ(RewriteSrcset(" a.png  1x ,\tkeep.png 2x,b.png, c.png 480w", local),
              " local/a.png  1x ,\tkeep.png 2x,local/b.png, local/c.png 480w");
    EXPECT_EQ(RewriteSrcset("a,b.jpg 1x", local), "local/a,b.jpg 1x");
}

TEST(SrcsetRewrite, ReplacementsAreMadeSafe) {
    const auto to = [](std::string Value) {
        return [Value](const SrcsetCandidate&) { return std::optional<std::string>(Value); };
    };
    EXPECT_EQ(RewriteSrcset("a.png 1x, b.png 2x", to("my file.png")),
              "my%20file.png 1x, my%20file.png 2x");
    EXPECT_EQ(RewriteSrcset("a.png 1x", to(",,x,y,,")), "%2C%2Cx,y%2C%2C 1x");
    EXPECT_EQ(RewriteSrcset("a.png", to("t\tn\nr\rf\f")), "t%09n%0Ar%0Df%0C");
    EXPECT_EQ(RewriteSrcset("a.png", to(",")), "%2C");
    // Read again, the attribute gives the safe URLs, one per candidate.
    const std::string out = RewriteSrcset("a.png 1x,b.png 2x", to(", x ,"));
    EXPECT_EQ(Urls(out), (Strings{"%2C%20x%20%2C", "%2C%20x%20%2C"}));
}

TEST(SrcsetRewrite, AnEmptyReplacementKeepsTheUrl) {
    EXPECT_EQ(RewriteSrcset("a.png 1x, b.png 2x",
                            [](const SrcsetCandidate& C) -> std::optional<std::string> {
                                return C.Url == "a.png" ? "" : "B.png";
                            }),
              "a.png 1x, B.png 2x");
}
