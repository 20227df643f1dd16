#include "scanner/CssReferences.h"

#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>
#include <vector>

using namespace larkspool;
using namespace std::string_literals;

namespace {

// A reference as a test reads it: the address, whether it is an @import and
// the piece of text a rewrite replaces.
struct Found {
    std::string Text;
    bool Import = false;
    std::string Piece;
    bool operator==(const Found&) const = default;
};

std::ostream& operator<<(std::ostream& Out, const Found& F) {
    return Out << "{\"" << F.Text << "\", " << (F.Import ? "import" : "file") << ", \"" << F.Piece
               << "\"}";
}

std::vector<Found> Find(const std::string& Css) {
    std::vector<Found> found;
    std::size_t last = 0;
    for (const CssReference& ref : FindCssReferences(Css)) {
        EXPECT_LE(last, ref.Start) << Css;
        EXPECT_LT(ref.Start, ref.End) << Css;
        EXPECT_LE(ref.End, Css.size()) << Css;
        last = ref.End;
        found.push_back({ref.Text, ref.Import, Css.substr(ref.Start, ref.End - ref.Start)});
    }
    return found;
}

Found File(std::string Text, std::string Piece) {
    return {std::move(Text), false, std::move(Piece)};
}
Found Import(std::string Text, std::string Piece) {
    return {std::move(Text), true, std::move(Piece)};
}

std::string KeepAll(const std::string& Css) {
    return RewriteCss(Css, [](const CssReference&) { return std::nullopt; });
}

} // namespace

TEST(CssReferencesUrl, UnquotedAndQuoted) {
    EXPECT_EQ(Find("a { background: url(a.png) }"), (std::vector{File("a.png", "url(a.png)")}));
    EXPECT_EQ(Find("a{background:url(\"b.png\")}"), (std::vector{File("b.png", "url(\"b.png\")")}));
    EXPECT_EQ(Find("a{background:url('c.png')}"), (std::vector{File("c.png", "url('c.png')")}));
    EXPECT_EQ(Find("a{background:url(  d.png \t\n)}"),
              (std::vector{File("d.png", "url(  d.png \t\n)")}));
    EXPECT_EQ(Find("a{background:url( \"e.png\" )}"),
              (std::vector{File("e.png", "url( \"e.png\" )")}));
    EXPECT_EQ(Find("a{background:url(/*x*/\"f.png\"/*y*/)}"), (std::vector<Found>{}))
        << "a comment right after url( makes an unquoted url, and its quote a bad one";
    EXPECT_EQ(Find("a{background:url( 'g.png' /* why */ )}"),
              (std::vector{File("g.png", "url( 'g.png' /* why */ )")}));
}

TEST(CssReferencesUrl, NameInAnyCaseButNotPartOfAnotherName) {
    EXPECT_EQ(Find("a{b:URL(a.png) c:Url('b.png') d:uRl(\"c.png\")}"),
              (std::vector{File("a.png", "URL(a.png)"), File("b.png", "Url('b.png')"),
                           File("c.png", "uRl(\"c.png\")")}));
    // Names, numbers and hashes that end in "url", and a blank before "(".
    EXPECT_EQ(Find("a{b:myurl(a.png) c:10url(b.png) d:#url(c.png) e:-url(d.png) f:url (e.png)}"),
              (std::vector<Found>{}));
    // An escaped name is still the same name to the browser.
    EXPECT_EQ(Find("a{b:u\\72l(f.png)}"), (std::vector{File("f.png", "u\\72l(f.png)")}));
    EXPECT_EQ(Find("<!--url(g.png)-->"), (std::vector{File("g.png", "url(g.png)")}));
    EXPECT_EQ(Find("a{b:x url(h.png),url(i.png)}"),
              (std::vector{File("h.png", "url(h.png)"), File("i.png", "url(i.png)")}));
}

TEST(CssReferencesUrl, EscapesAreDecoded) {
    EXPECT_EQ(Find("a{b:url(a\\ b.png)}"), (std::vector{File("a b.png", "url(a\\ b.png)")}));
    EXPECT_EQ(Find("a{b:url(\\61 b.png)}"), (std::vector{File("ab.png", "url(\\61 b.png)")}));
    EXPECT_EQ(Find("a{b:url(\\(c\\).png)}"), (std::vector{File("(c).png", "url(\\(c\\).png)")}));
    EXPECT_EQ(Find("a{b:url(\\1F600 x.png)}"),
              (std::vector{File("\xF0\x9F\x98\x80x.png", "url(\\1F600 x.png)")}));
    EXPECT_EQ(Find("a{b:url(\\E9\r\nt\\e9.png)}"),
              (std::vector{File("\xC3\xA9t\xC3\xA9.png", "url(\\E9\r\nt\\e9.png)")}));
    // Code points no character has become U+FFFD.
    EXPECT_EQ(
        Find("a{b:url(\\0 \\D800 \\110000)}"),
        (std::vector{File("\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD", "url(\\0 \\D800 \\110000)")}));
    EXPECT_EQ(Find("a{b:url(\"q\\\"uote\\\\d.png\")}"),
              (std::vector{File("q\"uote\\d.png", "url(\"q\\\"uote\\\\d.png\")")}));
    EXPECT_EQ(Find("a{b:url('it\\'s.png')}"), (std::vector{File("it's.png", "url('it\\'s.png')")}));
    // A backslash before a line break continues a string on the next line.
    EXPECT_EQ(Find("a{b:url(\"long\\\nname.png\")}"),
              (std::vector{File("longname.png", "url(\"long\\\nname.png\")")}));
    EXPECT_EQ(Find("a{b:url(\"long\\\r\nname.png\")}"),
              (std::vector{File("longname.png", "url(\"long\\\r\nname.png\")")}));
}

TEST(CssReferencesUrl, BlanksAroundTheAddressGo) {
    EXPECT_EQ(Find("a{b:url(\"  a.png\t\")}"), (std::vector{File("a.png", "url(\"  a.png\t\")")}));
    EXPECT_EQ(Find("a{b:url(\\20 b.png)}"), (std::vector{File("b.png", "url(\\20 b.png)")}));
}

TEST(CssReferencesUrl, DataAddressesAreReturned) {
    EXPECT_EQ(Find("a{b:url(data:image/png;base64,iVBORw0K==)}"),
              (std::vector{File("data:image/png;base64,iVBORw0K==",
                                "url(data:image/png;base64,iVBORw0K==)")}));
    EXPECT_EQ(Find("a{b:url(\"data:image/svg+xml,<svg xmlns='x'/>\")}"),
              (std::vector{File("data:image/svg+xml,<svg xmlns='x'/>",
                                "url(\"data:image/svg+xml,<svg xmlns='x'/>\")")}));
}

TEST(CssReferencesUrl, EmptyAddressesAreNoReferences) {
    EXPECT_EQ(Find("a{b:url() c:url(\"\") d:url('') e:url(   ) f:url(\" \")}"),
              (std::vector<Found>{}));
}

TEST(CssReferencesUrl, BadUrlsAreNoReferencesAndEndAtTheirParen) {
    EXPECT_EQ(Find("a{b:url(a b.png) c:url(c.png)}"), (std::vector{File("c.png", "url(c.png)")}));
    EXPECT_EQ(Find("a{b:url(a\"b.png) c:url(a'b) d:url(a(b) e:url(d.png)}"),
              (std::vector{File("d.png", "url(d.png)")}));
    EXPECT_EQ(Find("a{b:url(a\x01.png) c:url(a\x7f.png) e:url(e.png)}"),
              (std::vector{File("e.png", "url(e.png)")}));
    // A backslash before a line break is no escape.
    EXPECT_EQ(Find("a{b:url(a\\\nb.png) e:url(f.png)}"),
              (std::vector{File("f.png", "url(f.png)")}));
    // An escaped ")" does not end a bad url.
    EXPECT_EQ(Find("a{b:url(a b\\) url(c.png)) url(g.png)}"),
              (std::vector{File("g.png", "url(g.png)")}));
    // A bad url runs to the end of the text.
    EXPECT_EQ(Find("a{b:url(a b.png url(c.png"), (std::vector<Found>{}));
}

TEST(CssReferencesUrl, AStringFunctionWithMoreThanTheStringIsNoReference) {
    EXPECT_EQ(Find("a{b:url(\"a.png\" x) c:url(\"b.png\" \"c.png\") d:url(d.png)}"),
              (std::vector{File("d.png", "url(d.png)")}));
    // A line break ends its string as a bad one.
    EXPECT_EQ(Find("a{b:url(\"a.png\n) c:url(e.png)}"), (std::vector{File("e.png", "url(e.png)")}));
}

TEST(CssReferencesText, CommentsAreSkipped) {
    EXPECT_EQ(Find("/* url(a.png) */ b { background: url(b.png) /* url(c.png) */ }"),
              (std::vector{File("b.png", "url(b.png)")}));
    EXPECT_EQ(Find("/**/url(d.png)/*/ url(e.png) */url(f.png)"),
              (std::vector{File("d.png", "url(d.png)"), File("f.png", "url(f.png)")}));
    EXPECT_EQ(Find("a{} /* url(x.png)"), (std::vector<Found>{}));
    // Inside a string, "/*" is text.
    EXPECT_EQ(Find("a{content:\"/*\"; b:url(g.png)} /* */"),
              (std::vector{File("g.png", "url(g.png)")}));
}

TEST(CssReferencesText, StringsThatMentionUrlAreText) {
    EXPECT_EQ(Find("a{content:\"url(a.png)\"; quotes:'url(b.png)' \"x\"} b{c:url(c.png)}"),
              (std::vector{File("c.png", "url(c.png)")}));
    // An escaped quote does not end a string early.
    EXPECT_EQ(Find("a{content:\"\\\" url(a.png)\"} b{c:url(d.png)}"),
              (std::vector{File("d.png", "url(d.png)")}));
    // A bad string ends at its line; what follows is read again.
    EXPECT_EQ(Find("a{content:\"open\nb{c:url(e.png)}"),
              (std::vector{File("e.png", "url(e.png)")}));
}

TEST(CssReferencesText, FontsCursorsAndStyleAttributes) {
    EXPECT_EQ(Find("@font-face{font-family:F;src:url(f.woff2) format(\"woff2\"),local(\"F\"),"
                   "url('f.woff') format('woff')}"),
              (std::vector{File("f.woff2", "url(f.woff2)"), File("f.woff", "url('f.woff')")}));
    EXPECT_EQ(Find("background-image: url('a.png'); cursor: url(c.cur), auto"),
              (std::vector{File("a.png", "url('a.png')"), File("c.cur", "url(c.cur)")}));
    EXPECT_EQ(Find("@charset \"utf-8\"; a{b:c}"), (std::vector<Found>{}));
}

TEST(CssReferencesImport, StringAndUrlForms) {
    EXPECT_EQ(Find("@import \"a.css\";\n@import 'b.css' screen;\n@import url(c.css);\n"
                   "@import url(\"d.css\") print;\n@import url( 'e.css' ) layer(x);"),
              (std::vector{Import("a.css", "\"a.css\""), Import("b.css", "'b.css'"),
                           Import("c.css", "url(c.css)"), Import("d.css", "url(\"d.css\")"),
                           Import("e.css", "url( 'e.css' )")}));
}

TEST(CssReferencesImport, CaseCommentsAndMinifiedText) {
    EXPECT_EQ(Find("@IMPORT \"a.css\";@Import/* c */'b.css';@import\"c.css\";@import url(d.css)"),
              (std::vector{Import("a.css", "\"a.css\""), Import("b.css", "'b.css'"),
                           Import("c.css", "\"c.css\""), Import("d.css", "url(d.css)")}));
}

TEST(CssReferencesImport, OnlyTheFirstTokenAfterImport) {
    EXPECT_EQ(Find("@import url(a.css) supports(display:grid) \"x\"; b{c:\"y\"}"),
              (std::vector{Import("a.css", "url(a.css)")}));
    EXPECT_EQ(Find("@import layer(x) \"b.css\";"), (std::vector<Found>{}));
    EXPECT_EQ(Find("@import \"\"; @imports \"c.css\"; @import \"d.css\""),
              (std::vector{Import("d.css", "\"d.css\"")}));
    // A url() elsewhere in a sheet that imports is no import.
    EXPECT_EQ(Find("@import 'e.css'; a{b:url(f.png)}"),
              (std::vector{Import("e.css", "'e.css'"), File("f.png", "url(f.png)")}));
}

TEST(CssReferencesNamespace, NamespacesAreNoFiles) {
    EXPECT_EQ(Find("@namespace url(http://www.w3.org/1999/xhtml);\n"
                   "@namespace svg \"http://www.w3.org/2000/svg\";\n"
                   "@NAMESPACE m url('http://www.w3.org/1998/Math/MathML');\n"
                   "a{background:url(a.png)}"),
              (std::vector{File("a.png", "url(a.png)")}));
    // Without its ";" the rule ends at a block.
    EXPECT_EQ(Find("@namespace url(x) a{b:url(b.png)}"),
              (std::vector{File("b.png", "url(b.png)")}));
}

TEST(CssReferencesImageSet, StringsInsideAreReferences) {
    EXPECT_EQ(Find("a{b:image-set(\"a.png\" 1x, \"b.png\" 2x)}"),
              (std::vector{File("a.png", "\"a.png\""), File("b.png", "\"b.png\"")}));
    EXPECT_EQ(Find("a{b:-webkit-image-set(url(c.png) 1x, 'd.png' 2x)}"),
              (std::vector{File("c.png", "url(c.png)"), File("d.png", "'d.png'")}));
    EXPECT_EQ(Find("a{b:IMAGE-SET('e.png' 1x)}"), (std::vector{File("e.png", "'e.png'")}));
    EXPECT_EQ(Find("a{b:image-set(url(\"f.png\") 1x)}"),
              (std::vector{File("f.png", "url(\"f.png\")")}));
}

TEST(CssReferencesImageSet, OnlyItsOwnStrings) {
    // type() names a format; strings after the set are text again.
    EXPECT_EQ(Find("a{b:image-set(\"a.avif\" type(\"image/avif\"), \"b.jpg\" type('image/jpeg'))"
                   " \"c.png\"; content:'d.png'}"),
              (std::vector{File("a.avif", "\"a.avif\""), File("b.jpg", "\"b.jpg\"")}));
    // Other blocks nested inside the set end before its next string.
    EXPECT_EQ(Find("a{b:image-set(calc((1)) \"e.png\" 1x, [x] 'f.png' 2x)}"),
              (std::vector{File("e.png", "\"e.png\""), File("f.png", "'f.png'")}));
    EXPECT_EQ(Find("a{b:image-set(\"\" 1x)}"), (std::vector<Found>{}));
    EXPECT_EQ(Find("a{b:my-image-set(\"g.png\")}"), (std::vector<Found>{}));
}

TEST(CssReferencesEdges, UnterminatedAtTheEnd) {
    EXPECT_EQ(Find("a{b:url(x.png"), (std::vector{File("x.png", "url(x.png")}));
    EXPECT_EQ(Find("a{b:url(x.png  "), (std::vector{File("x.png", "url(x.png  ")}));
    EXPECT_EQ(Find("a{b:url(\"y.png"), (std::vector{File("y.png", "url(\"y.png")}));
    EXPECT_EQ(Find("a{b:url('z.png' "), (std::vector{File("z.png", "url('z.png' ")}));
    EXPECT_EQ(Find("@import \"a.css"), (std::vector{Import("a.css", "\"a.css")}));
    EXPECT_EQ(Find("a{b:image-set('i.png"), (std::vector{File("i.png", "'i.png")}));
    // A backslash at the very end stands for U+FFFD in a url, for nothing in a string.
    EXPECT_EQ(Find("a{b:url(x\\"), (std::vector{File("x\xEF\xBF\xBD", "url(x\\")}));
    EXPECT_EQ(Find("a{b:url('x\\"), (std::vector{File("x", "url('x\\")}));
    for (const std::string cut :
         {"url(", "url( ", "url(\"", "url('", "url(\"\\", "@import", "@import ", "@", "/*", "/",
          "\\", "u", "url", "image-set(", "#", "-", "<!-", "1e", "url(a b"})
        EXPECT_EQ(Find("a{b:" + cut), (std::vector<Found>{})) << cut;
}

TEST(CssReferencesEdges, NulAndInvalidUtf8Bytes) {
    const std::string nul = "a{b:url(a\0b.png)} c{d:url(\"e\0f.png\")}"s;
    EXPECT_EQ(Find(nul), (std::vector{File("a\xEF\xBF\xBD"
                                           "b.png",
                                           "url(a\0b.png)"s),
                                      File("e\xEF\xBF\xBD"
                                           "f.png",
                                           "url(\"e\0f.png\")"s)}));
    EXPECT_EQ(Find("a{b:url(\xff\xfe.png) c:url('\xc3(.png')}"),
              (std::vector{File("\xff\xfe.png", "url(\xff\xfe.png)"),
                           File("\xc3(.png", "url('\xc3(.png')")}));
    // Bytes of non-ASCII characters are name characters: "éurl(" is no url.
    EXPECT_EQ(Find("a{b:\xc3\xa9url(a.png)}"), (std::vector<Found>{}));
}

TEST(CssReferencesEdges, ManyOpenBlocksAndUrls) {
    std::string css;
    for (int i = 0; i < 20000; ++i)
        css += "(image-set(";
    css += "\"deep.png\"";
    EXPECT_EQ(Find(css), (std::vector{File("deep.png", "\"deep.png\"")}));

    std::string many;
    for (int i = 0; i < 20000; ++i)
        many += "url(\"a\" ";
    // Only the last one, ended by the end of the text, holds nothing but its string.
    const auto refs = FindCssReferences(many);
    ASSERT_EQ(refs.size(), 1u);
    EXPECT_EQ(refs[0].Text, "a");
    EXPECT_EQ(refs[0].Start, many.size() - 8);
    EXPECT_EQ(refs[0].End, many.size());
    EXPECT_EQ(KeepAll(many), many);
}

TEST(CssRewrite, KeepingEverythingGivesTheTextBack) {
    for (const std::string& css :
         std::vector<std::string>{"", "a{b:url(a.png)}", "@import 'x.css';@import\"y.css\" screen;",
                                  "a{b:url(a b.png) c:url(\"d\" e)}", "/* url(a.png)",
                                  "a{b:url(\"x.png", "a{b:image-set('a.png' 1x,\"b.png\" 2x)}",
                                  "a{b:URL( \\61 .png )}", "a{b:url(\0\xff)}"s})
        EXPECT_EQ(KeepAll(css), css);
}

TEST(CssRewrite, ReplacedPiecesBecomeQuotedUrls) {
    const std::string css = "@import 'base.css' screen;\n"
                            "a { background: URL( img/a.png ) no-repeat; }\n"
                            "b { background: url(\"data:image/gif;base64,R0lG\"); }\n"
                            "c { background: -webkit-image-set('c1.png' 1x, url(c2.png) 2x); }\n";
    const std::string out =
        RewriteCss(css, [](const CssReference& Ref) -> std::optional<std::string> {
            if (Ref.Text.starts_with("data:"))
                return std::nullopt;
            return (Ref.Import ? "sheet-" : "file-") + Ref.Text.substr(Ref.Text.rfind('/') + 1);
        });
    EXPECT_EQ(out, "@import url(\"sheet-base.css\") screen;\n"
                   "a { background: url(\"file-a.png\") no-repeat; }\n"
                   "b { background: url(\"data:image/gif;base64,R0lG\"); }\n"
                   "c { background: -webkit-image-set(url(\"file-c1.png\") 1x, "
                   "url(\"file-c2.png\") 2x); }\n");
}

TEST(CssRewrite, ValuesAreEscapedForAString) {
    const std::string value = "a\"b\\c\nd\re\ff 1.png";
    const std::string out =
        RewriteCss("a{b:url(x.png)}", [&](const CssReference&) { return value; });
    EXPECT_EQ(out, "a{b:url(\"a\\\"b\\\\c\\a d\\d e\\c f 1.png\")}");
    // The browser reads the value back as it was.
    EXPECT_EQ(Find(out), (std::vector{File(value, out.substr(4, out.size() - 5))}));
}

TEST(CssRewrite, AReplacedStringDoesNotJoinTheNameBeforeIt) {
    const auto rename = [](const CssReference& Ref) { return "new-" + Ref.Text; };
    EXPECT_EQ(RewriteCss("@import\"a.css\";", rename), "@import url(\"new-a.css\");");
    EXPECT_EQ(RewriteCss("@import 'a.css';", rename), "@import url(\"new-a.css\");");
    EXPECT_EQ(RewriteCss("a{b:image-set(1x\"b.png\",x'c.png')}", rename),
              "a{b:image-set(1x url(\"new-b.png\"),x url(\"new-c.png\"))}");
    // A name that ends in an escaped "(" is still a name.
    EXPECT_EQ(RewriteCss("a{b:image-set(x\\('d.png' 1x)}", rename),
              "a{b:image-set(x\\( url(\"new-d.png\") 1x)}");
    // ... and one that ends in a hex escape takes the first blank as the escape's end.
    EXPECT_EQ(RewriteCss("a{b:image-set(\\a'e.png')}", rename),
              "a{b:image-set(\\a  url(\"new-e.png\"))}");
    EXPECT_EQ(Find(RewriteCss("a{b:image-set(\\a'e.png')}", rename)),
              (std::vector{File("new-e.png", "url(\"new-e.png\")")}));
    const std::string out = RewriteCss("@import\"a.css\";@import'b.css'", rename);
    EXPECT_EQ(Find(out), (std::vector{Import("new-a.css", "url(\"new-a.css\")"),
                                      Import("new-b.css", "url(\"new-b.css\")")}));
}

TEST(CssRewrite, UnterminatedPiecesAreClosed) {
    const auto rename = [](const CssReference&) { return std::string("n.png"); };
    EXPECT_EQ(RewriteCss("a{b:url(x.png", rename), "a{b:url(\"n.png\")");
    EXPECT_EQ(RewriteCss("a{b:url('x.png", rename), "a{b:url(\"n.png\")");
    EXPECT_EQ(RewriteCss("@import 'x.css", rename), "@import url(\"n.png\")");
}

TEST(CssRewrite, OnlyChosenReferencesChange) {
    const std::string css = "a{b:url(one.png)}c{d:url(two.png)}e{f:url(three.png)}";
    const std::string out =
        RewriteCss(css, [](const CssReference& Ref) -> std::optional<std::string> {
            if (Ref.Text == "two.png")
                return "2.png";
            return std::nullopt;
        });
    EXPECT_EQ(out, "a{b:url(one.png)}c{d:url(\"2.png\")}e{f:url(three.png)}");
}
