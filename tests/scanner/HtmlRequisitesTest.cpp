// What the scanner finds beyond anchors, pictures, style sheets and frames:
// everything else a page needs to look right offline.
#include "scanner/HtmlParser.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

using namespace larkspool;

namespace {

using Found = std::vector<std::pair<TTagKind, std::string>>;

// Kinds and values of a file scan, checking on the way that the chunks give
// the bytes back.
Found Scan(const std::string& Page) {
    THTMLParser p = THTMLParser::CreateFromBytes(Page);
    Found found;
    std::string joined;
    bool any = false;
    while (p.Next()) {
        any = true;
        joined += std::string(p.Before()) + std::string(p.Value());
        if (p.Kind() != tkText)
            found.emplace_back(p.Kind(), std::string(p.Value()));
    }
    if (any) {
        EXPECT_EQ(joined, Page) << "the chunks must give the page back";
    }
    return found;
}

TEST(HtmlRequisites, OneTagGivesEachWantedValueInTheOrderWritten) {
    EXPECT_EQ(Scan("<img srcset='a.png 1x, b.png 2x' style=\"color:red\" src=c.png>"),
              (Found{{tkSrcset, "'a.png 1x, b.png 2x'"},
                     {tkStyle, "\"color:red\""},
                     {tkImage, "c.png"}}));
    EXPECT_EQ(Scan("<picture><source srcset=\"w.webp\" type=image/webp><img src=p.png></picture>"),
              (Found{{tkSrcset, "\"w.webp\""}, {tkImage, "p.png"}}));
    // The first of two attributes of one name counts, as in browsers.
    EXPECT_EQ(Scan("<img src=a.png SRC=b.png srcset=x srcset=y>"),
              (Found{{tkImage, "a.png"}, {tkSrcset, "x"}}));
}

TEST(HtmlRequisites, ScriptsFramesAndOtherPictures) {
    EXPECT_EQ(Scan("<script src=\"nav.js\"></script><SCRIPT type=module SRC='m.js'>let a='<img "
                   "src=x>';</SCRIPT>"),
              (Found{{tkScript, "\"nav.js\""}, {tkScript, "'m.js'"}}));
    EXPECT_EQ(Scan("<iframe class=toc src=\"toc.html\"></iframe><frame src=f.html>"),
              (Found{{tkFrame, "\"toc.html\""}, {tkFrame, "f.html"}}));
    EXPECT_EQ(Scan("<video poster=\"p.jpg\" src=v.mp4></video><body background=bg.gif>"
                   "<table background='t.gif'><td background=c.gif><th background=h.gif>"),
              (Found{{tkPicture, "\"p.jpg\""},
                     {tkPicture, "bg.gif"},
                     {tkPicture, "'t.gif'"},
                     {tkPicture, "c.gif"},
                     {tkPicture, "h.gif"}}));
}

TEST(HtmlRequisites, AnInputShowsAPictureOnlyAsAnImageButton) {
    EXPECT_EQ(
        Scan("<input type=\" IMAGE \" src=go.png><input src=no.png><input type=text src=t.png>"
             "<input src=late.png type=image>"),
        (Found{{tkPicture, "go.png"}, {tkPicture, "late.png"}}));
}

TEST(HtmlRequisites, StyleAttributesOnAnyElementAndStyleElements) {
    EXPECT_EQ(Scan("<div style=\"background:url(a.png)\"><p STYLE='x'>t</p><span style>"),
              (Found{{tkStyle, "\"background:url(a.png)\""}, {tkStyle, "'x'"}}));
    // A style element's content is one value, not markup: a tag inside it
    // is not read.
    EXPECT_EQ(
        Scan(
            "<style media=screen>@import 'a.css'; /* <img src=no.png> */</style><img src=yes.png>"),
        (Found{{tkStyleText, "@import 'a.css'; /* <img src=no.png> */"}, {tkImage, "yes.png"}}));
    EXPECT_EQ(Scan("<style></style><STYLE>b{}</STYLE>"), (Found{{tkStyleText, "b{}"}}));
    // One that never ends runs to the end, as browsers read it.
    EXPECT_EQ(Scan("<style>a{} <img src=x.png>"), Found{});
}

TEST(HtmlRequisites, EndTagsCommentsAndScriptTextGiveNothing) {
    EXPECT_EQ(
        Scan(
            "</div style=\"url(a.png)\"><!-- <div style=x> --><script>var s='<p style=y>';</script>"
            "<p style=z>"),
        (Found{{tkStyle, "z"}}));
    // A "<" that starts no tag (not followed by a letter) is text.
    EXPECT_EQ(Scan("1 < 2 <3 <p style=a>"), (Found{{tkStyle, "a"}}));
}

TEST(HtmlRequisites, AQuotedGreaterThanDoesNotEndAnyTag) {
    EXPECT_EQ(Scan("<p title='a > b' style=\"s\">"), (Found{{tkStyle, "\"s\""}}));
}

TEST(HtmlRequisites, LinksAreStyleSheetsOrIconsByRel) {
    EXPECT_EQ(Scan("<link rel=\"shortcut icon\" href=i.ico style=s><link href=n.html rel=next>"
                   "<link rel=stylesheet href=a.css>"),
              (Found{{tkIcon, "i.ico"}, {tkStyle, "s"}, {tkLink, "a.css"}}));
    EXPECT_EQ(Scan("<link rel=preload as=font href=f.woff2><link rel=modulepreload href=m.js>"
                   "<link rel=prefetch href=later.html>"),
              (Found{{tkPreload, "f.woff2"}, {tkPreload, "m.js"}}));
}

} // namespace
