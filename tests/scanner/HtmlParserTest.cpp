#include "scanner/HtmlParser.h"

#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <random>
#include <system_error>
#include <vector>

using namespace larkspool;

namespace {

struct Chunk {
    std::string Before, Value;
    TTagKind Kind;
    bool operator==(const Chunk&) const = default;
};

void PrintTo(const Chunk& c, std::ostream* os) {
    *os << "{" << ::testing::PrintToString(c.Before) << ", " << ::testing::PrintToString(c.Value)
        << ", " << int(c.Kind) << "}";
}

std::vector<Chunk> Drain(THTMLParser& p) {
    std::vector<Chunk> chunks;
    while (p.Next())
        chunks.push_back({std::string(p.Before()), std::string(p.Value()), p.Kind()});
    EXPECT_FALSE(p.Next()) << "a finished scanner must stay finished";
    return chunks;
}

std::vector<Chunk> ScanText(const std::string& text) {
    THTMLParser p = THTMLParser::CreateFromText(text.c_str());
    return Drain(p);
}

std::vector<std::string> Values(const std::vector<Chunk>& chunks) {
    std::vector<std::string> v;
    for (const Chunk& c : chunks)
        if (c.Kind != tkText)
            v.push_back(c.Value);
    return v;
}

std::string Joined(const std::vector<Chunk>& chunks) {
    std::string s;
    for (const Chunk& c : chunks)
        s += c.Before + c.Value;
    return s;
}

std::vector<Chunk> ScanFile(const std::string& bytes) {
    check::TempFolder dir;
    THTMLParser p = THTMLParser::CreateFromFile(dir.Write("page.htm", bytes));
    return Drain(p);
}

// The invariant a writer of pages relies on: the chunks give back the file.
void ExpectRoundTrip(const std::string& bytes) {
    const std::vector<Chunk> chunks = ScanFile(bytes);
    if (!chunks.empty()) {
        EXPECT_EQ(Joined(chunks), bytes);
        EXPECT_EQ(chunks.back().Kind, tkText);
        EXPECT_EQ(chunks.back().Value, "");
    }
}

} // namespace

TEST(ScannerValues, QuotedUnquotedAndLinkForms) {
    auto chunks = ScanText("<p><a href='page2.html'>next</a>");
    ASSERT_EQ(chunks.size(), 2u);
    EXPECT_EQ(chunks[0], (Chunk{"<p><a href=", "'page2.html'", tkAnchor}));
    EXPECT_EQ(chunks[1], (Chunk{"", "", tkText})); // a caller's text has an empty closing chunk

    chunks = ScanText("<a href=\"p.htm\">x</a><b>");
    EXPECT_EQ(chunks[0].Value, "\"p.htm\"");

    chunks = ScanFile("<IMG SRC=logo.gif WIDTH=10>");
    ASSERT_EQ(chunks.size(), 2u);
    EXPECT_EQ(chunks[0], (Chunk{"<IMG SRC=", "logo.gif", tkImage}));
    EXPECT_EQ(chunks[1].Before, " WIDTH=10>");

    chunks = ScanFile("<link rel=stylesheet href='s.css'>");
    EXPECT_EQ(chunks[0], (Chunk{"<link rel=stylesheet href=", "'s.css'", tkLink}));
    EXPECT_EQ(chunks[1], (Chunk{">", "", tkText}));
}

TEST(ScannerValues, FrameTagAloneGivesValueAndClosingChunk) {
    const auto chunks = ScanFile("<html><FRAME SRC=\"top.htm\" name=t></html>");
    ASSERT_EQ(chunks.size(), 2u);
    EXPECT_EQ(chunks[0], (Chunk{"<html><FRAME SRC=", "\"top.htm\"", tkFrame}));
    EXPECT_EQ(chunks[1], (Chunk{" name=t></html>", "", tkText}));
}

TEST(ScannerValues, ValueEndsBeforeGreaterOrBlank) {
    auto chunks = ScanFile("<a href=x.htm>t</a>");
    EXPECT_EQ(chunks[0].Value, "x.htm");
    EXPECT_EQ(chunks[1].Before, ">t</a>");

    chunks = ScanFile("<a href=x.htm target=_top>");
    EXPECT_EQ(chunks[0].Value, "x.htm");
    EXPECT_EQ(chunks[1].Before, " target=_top>");

    chunks = ScanFile("<a href = \r\n\t y.htm\n>");
    EXPECT_EQ(chunks[0].Before, "<a href = \r\n\t ");
    EXPECT_EQ(chunks[0].Value, "y.htm");
}

TEST(ScannerValues, CutIsTakenAtTheEqualsAfterTheAttributeName) {
    const auto chunks = ScanFile("<a width=10 class=c href=z.htm>");
    EXPECT_EQ(chunks[0].Before, "<a width=10 class=c href=");
    EXPECT_EQ(chunks[0].Value, "z.htm");
}

TEST(ScannerValues, TagAndAttributeNamesInAnyCase) {
    EXPECT_EQ(Values(ScanText("<A HREF=1><a Href=2><LiNk ReL=StyleSheet HrEf=3><ImG sRc=4>"
                              "<fRaMe SrC=5><BASE HREF=6>")),
              (std::vector<std::string>{"1", "2", "3", "4", "5", "6"}));
}

TEST(ScannerValues, TagNamesEndAtAnyWhitespaceOrSlash) {
    const auto chunks = ScanText("<a\thref=d><img\nsrc=e><IMG\r\n  SRC=f><frame\fsrc=g>"
                                 "<img/src=h><link\nrel=stylesheet\nhref=i>");
    EXPECT_EQ(Values(chunks), (std::vector<std::string>{"d", "e", "f", "g", "h", "i"}));
    EXPECT_EQ(chunks[1].Kind, tkImage);
    EXPECT_EQ(chunks[5].Kind, tkLink);
}

TEST(ScannerValues, UnrecognisedTagForms) {
    EXPECT_TRUE(ScanText("<area href=b><frameset src=d>"
                         "<abbr title=x><imgx src=e><linker rel=stylesheet href=f><a>"
                         "<basefont href=g><img><iframex src=h><bodyx background=i>")
                    .empty());
}

TEST(ScannerValues, AttributeIsReadOnlyInsideItsTagAndByItsWholeName) {
    // an anchor without href gives nothing, and a later tag keeps its own value
    auto chunks = ScanFile("<a name=top>Top</a> <p>text</p> <a href=z.html>z</a>");
    ASSERT_EQ(chunks.size(), 2u);
    EXPECT_EQ(chunks[0].Before, "<a name=top>Top</a> <p>text</p> <a href=");
    EXPECT_EQ(chunks[0].Value, "z.html");

    // the DocBook figure: the picture keeps its address
    chunks = ScanText("<a name=\"fig1\"></a><img src=\"p.png\">");
    ASSERT_EQ(chunks.size(), 2u);
    EXPECT_EQ(chunks[0], (Chunk{"<a name=\"fig1\"></a><img src=", "\"p.png\"", tkImage}));

    // names that merely contain the wanted one
    EXPECT_EQ(Values(ScanText("<img srcsetx=\"a-2x.png 2x\" data-src=lazy.png src=real.png>")),
              std::vector<std::string>{"real.png"});
    EXPECT_EQ(Values(ScanText("<a xhref=x.html data-href=y.html href=z.html>")),
              std::vector<std::string>{"z.html"});
    EXPECT_TRUE(ScanText("<img xsrcset=a.png><a hreflang=en>").empty());

    // the first of two attributes of the same name counts
    EXPECT_EQ(Values(ScanText("<img src=one.png SRC=two.png>")),
              std::vector<std::string>{"one.png"});

    // a "src" written inside another attribute's value is not an attribute
    EXPECT_EQ(Values(ScanText("<img alt='src=no.png' title=src=no2.png src=yes.png>")),
              std::vector<std::string>{"yes.png"});
}

TEST(ScannerValues, LinkTagsByWhatTheirRelNames) {
    const auto chunks = ScanText(
        "<link rel=canonical href=c.html><link rel=next href=n.html>"
        "<link rel=\"alternate\" type=\"application/rss+xml\" href=feed.xml>"
        "<link href=s.css rel=\"Alternate StyleSheet\"><link rel='shortcut icon' href=i.ico>"
        "<link rel=prefetch as=style href=p.css><link href=norel.css>"
        "<link rel=icon rel=stylesheet href=first-rel-counts.png>");
    ASSERT_EQ(Values(chunks), (std::vector<std::string>{"s.css", "i.ico", "first-rel-counts.png"}));
    EXPECT_EQ(chunks[0].Kind, tkLink);
    EXPECT_EQ(chunks[1].Kind, tkIcon);
    EXPECT_EQ(chunks[2].Kind, tkIcon);
}

TEST(ScannerValues, CommentsAreSkipped) {
    EXPECT_EQ(Values(ScanText("<!-- <img src=old.png> --><img src=new.png>"
                              "<!--><img src=a.png><!---><img src=b.png>")),
              (std::vector<std::string>{"new.png", "a.png", "b.png"}));
    EXPECT_TRUE(ScanText("<!-- never closed <img src=x.png>").empty());
    // a comment start inside a script is script text
    EXPECT_EQ(Values(ScanText("<script>x='<!--'</script><img src=c.png><!-- -->")),
              std::vector<std::string>{"c.png"});
}

TEST(ScannerValues, ScriptsAreSkipped) {
    const auto chunks = ScanFile("<SCRIPT>document.write('<a href=x.html>')</SCRIPT>"
                                 "<a href=y.html>y</a>");
    EXPECT_EQ(Values(chunks), std::vector<std::string>{"y.html"});
    // all four forms are skipped inside a script, and an unclosed script hides the rest
    EXPECT_EQ(Values(ScanText("<script><link href=a><img src=b><frame src=c></Script><a href=d>")),
              std::vector<std::string>{"d"});
    EXPECT_TRUE(ScanText("<script type=x><a href=hidden.htm>").empty());
}

TEST(ScannerEnd, NoValueMeansNoChunkAtAll) {
    EXPECT_TRUE(ScanFile("").empty());
    EXPECT_TRUE(ScanFile("<html><body>plain</body></html>").empty());
    EXPECT_TRUE(ScanFile("<a href>").empty()); // no "=" at all
    EXPECT_TRUE(ScanText("").empty());
    EXPECT_TRUE(THTMLParser::CreateFromText(nullptr).Next() == false);
}

TEST(ScannerEnd, MissingAttributeAfterAValueStillGivesTheClosingChunk) {
    const auto chunks = ScanFile("<a href=a.htm> <a name=x> tail");
    ASSERT_EQ(chunks.size(), 2u);
    EXPECT_EQ(chunks[1], (Chunk{"> <a name=x> tail", "", tkText}));
}

TEST(ScannerEnd, UnreadableFileNamesFileAndReason) {
    check::TempFolder dir;
    try {
        THTMLParser::CreateFromFile(dir.Path() + "/missing.htm");
        FAIL() << "no exception";
    } catch (const std::system_error& e) {
        const std::string what = e.what();
        EXPECT_NE(what.find("missing.htm"), std::string::npos) << what;
        EXPECT_NE(what.find("No such file or directory"), std::string::npos) << what;
    }
    try {
        THTMLParser::CreateFromFile(dir.Path()); // a folder opens but cannot be read
        FAIL() << "no exception";
    } catch (const std::system_error& e) {
        EXPECT_NE(std::string(e.what()).find("Is a directory"), std::string::npos) << e.what();
    }
}

TEST(ScannerEnd, ZeroByteEndsTheScanButNoByteIsLost) {
    const std::string page("<a href=a.htm>\0<a href=b.htm>rest", 33);
    const auto chunks = ScanFile(page);
    EXPECT_EQ(Values(chunks), std::vector<std::string>{"a.htm"});
    EXPECT_EQ(Joined(chunks), page);

    // a zero before any value: nothing to change, no chunk
    EXPECT_TRUE(ScanFile(std::string("ab\0<a href=x>", 13)).empty());
}

// The cases where a value's end is not within the tag.
TEST(ScannerDecisions, QuotedValueRunsToItsClosingQuotePastGreater) {
    auto chunks = ScanFile("<a href=\"x>y.htm\">t</a>");
    EXPECT_EQ(chunks[0].Value, "\"x>y.htm\"");
    EXPECT_EQ(chunks[1].Before, ">t</a>");

    chunks = ScanFile("<a href='a.htm>t</a> <img src='b.gif'>");
    EXPECT_EQ(Values(chunks), std::vector<std::string>{"'a.htm>t</a> <img src='"});
    EXPECT_EQ(chunks[1].Before, "b.gif'>");
}

TEST(ScannerDecisions, UnclosedQuoteGivesNoValueAndScanGoesOn) {
    const std::string page = "<a href=\"never closed> <img src=ok.gif>";
    const auto chunks = ScanFile(page);
    EXPECT_EQ(Values(chunks), std::vector<std::string>{"ok.gif"});
    EXPECT_EQ(Joined(chunks), page);
}

TEST(ScannerDecisions, EqualsFollowedByGreaterGivesNoValue) {
    auto chunks = ScanFile("<a href=>x</a><a href= \n>y</a><img src=p.gif>");
    EXPECT_EQ(Values(chunks), std::vector<std::string>{"p.gif"});
    EXPECT_EQ(chunks[0].Before, "<a href=>x</a><a href= \n>y</a><img src=");
}

TEST(ScannerDecisions, NoGreaterAfterEqualsGivesNoValue) {
    EXPECT_TRUE(ScanFile("<a href=x.htm").empty());
    EXPECT_TRUE(ScanFile("<a href=x.htm <img src=y.gif").empty());
}

TEST(ScannerDecisions, TagFormsInsideAReturnedValueAreNotReturnedAgain) {
    auto chunks = ScanFile("<a href=<link/href=q>");
    EXPECT_EQ(Values(chunks), std::vector<std::string>{"<link/href=q"});
    EXPECT_EQ(Joined(chunks), "<a href=<link/href=q>");

    chunks = ScanFile("<a href='<img src=z'> <img src=w>");
    EXPECT_EQ(Values(chunks), (std::vector<std::string>{"'<img src=z'", "w"}));
    EXPECT_EQ(chunks[1].Before, "> <img src=");

    // a script start written inside a value does not hide what follows
    chunks = ScanFile("<a href='<script>'><img src=v>");
    EXPECT_EQ(Values(chunks), (std::vector<std::string>{"'<script>'", "v"}));
}

TEST(ScannerInvariant, RoundTripsAWholePage) {
    ExpectRoundTrip("<!DOCTYPE html>\n<html><head><title>T</title>\n"
                    "<link rel=\"stylesheet\" href=\"s.css\">\n"
                    "<script>var a='<a href=\"no.htm\">';</script></head>\n"
                    "<body background=bg.gif><a href=\"1.htm\">one</a> <a name=x>x</a>\n"
                    "<img src='p.gif' alt=\"<img src=q>\"><frame src=f.htm>\n"
                    "<a href=mailto:a@b>m</a></body></html>\n");
}

// Random pages from a small alphabet of the bytes and words that matter.
TEST(ScannerInvariant, RoundTripsRandomMarkup) {
    const std::vector<std::string> pieces = {
        "<",
        ">",
        "=",
        "\"",
        "'",
        " ",
        "\t",
        "\n",
        "a",
        "<a ",
        "<A ",
        "<img ",
        "<IMG ",
        "<link",
        "<frame ",
        "<script",
        "</script",
        "href",
        "HREF",
        "src",
        "x.htm",
        "</a>",
        std::string(1, '\0'),
    };
    std::mt19937 rng(12345);
    for (int round = 0; round < 3000; ++round) {
        std::string page;
        const int n = static_cast<int>(rng() % 40);
        for (int i = 0; i < n; ++i)
            page += pieces[rng() % pieces.size()];
        const auto chunks = ScanFile(page);
        if (!chunks.empty()) {
            ASSERT_EQ(Joined(chunks), page) << ::testing::PrintToString(page);
        }
        // over a caller's text, the chunks reproduce it up to the last value
        const auto textChunks = ScanText(page);
        const std::string head = Joined(textChunks);
        ASSERT_EQ(page.compare(0, head.size(), head), 0) << ::testing::PrintToString(page);
        ASSERT_EQ(Values(chunks), Values(textChunks)) << ::testing::PrintToString(page);
    }
}

TEST(ScannerInvariant, HostileRepetitionsStillRoundTrip) {
    std::string page;
    for (int i = 0; i < 2000; ++i)
        page += "<a href=";
    EXPECT_TRUE(ScanFile(page).empty());
    page += ">";
    const auto chunks = ScanFile(page);
    ASSERT_FALSE(chunks.empty());
    EXPECT_EQ(Joined(chunks), page);
}
