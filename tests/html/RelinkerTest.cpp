#include "html/Relinker.h"
#include "html/Replacements.h"

#include "lister/ListerFixture.h"

#include <csignal>
#include <sys/resource.h>

using namespace larkspool;
using Relinking = larkspool::check::ListerTest;

namespace {

// The value the relinker writes for one anchor/picture in a one-line page.
struct Rig {
    larkspool::check::ListerTest& Test;
    TLister& List;
    std::string Relink(const std::string& Name, const std::string& Markup) {
        Test.WriteFile(Name, Markup);
        List.ResetToPages();
        while (List.CurrentFileName() != Name)
            EXPECT_TRUE(List.StepCurrentIndex());
        RelinkPage(List);
        return Test.ReadFile(Name);
    }
};

const std::string kNotSelectedPrefix = "\"javascript:if (confirm('";

} // namespace

TEST(SameURL, FragmentAndTrailingSlashRules) {
    EXPECT_TRUE(SameURL("http://h/a.htm", "http://h/a.htm#x"));
    EXPECT_TRUE(SameURL("http://h/dir/", "http://h/dir"));
    EXPECT_TRUE(SameURL("http://h/dir/", "http://h/dir#top"));
    EXPECT_FALSE(SameURL("http://h/dir", "http://h/dir/"));
    EXPECT_FALSE(SameURL("http://h/A.htm", "http://h/a.htm"));
    EXPECT_FALSE(SameURL("http://h/a.htm#x", "http://h/a.htm#x")); // the item keeps its fragment
}

TEST_F(Relinking, AnchorsByTheStateOfTheLastMatchingPage) {
    Page.Url = "http://site.test/index.html";
    TLister& list = Make();
    list.AddLink("http://site.test/stored.htm", "");
    list.AddLink("http://site.test/skipped.htm", "");
    list.AddLink("http://site.test/dir/", "");
    list.AddLink("http://site.test/pending.htm", "");
    list.SetStateOf(phPages, 1, stSavedText);
    list.SetStateOf(phPages, 2, stSkipped);
    list.SetStateOf(phPages, 3, stSavedOther);
    // pending.htm stays stToDownload, as after Stop
    Rig rig{*this, list};
    const std::string page =
        rig.Relink("INDEX.HTML",
                   "<a href=stored.htm#p>1</a><a href='skipped.htm'>2</a><a href=\"dir\">3</a>"
                   "<a href=pending.htm target=x>4</a><a href=#top>5</a><A HREF=/other.htm>6</a>");
    EXPECT_EQ(page, "<a href=\"stored.htm#p\">1</a><a href=" +
                        SkippedReplacement("http://site.test/skipped.htm") +
                        ">2</a><a href=\"f0\">3</a>"
                        "<a href=" +
                        NotSelectedReplacement("http://site.test/pending.htm") +
                        " target=x>4</a><a href=\"INDEX.HTML#top\">5</a><A HREF=" +
                        NotSelectedReplacement("http://site.test/other.htm") + ">6</a>");
}

TEST_F(Relinking, HandedToBrowserAndExcludedLinks) {
    Settings.Extensions = "zip exe";
    Settings.DoWithExtensions = 1;
    TLister& list = Make();
    list.AddLink("http://site.test/a.zip", "");
    Settings.DoWithExtensions = 2;
    list.AddLink("http://site.test/b.exe", "");
    list.SetStateOf(phPages, 1, stHandedToBrowser);
    Rig rig{*this, list};
    EXPECT_EQ(rig.Relink("INDEX.HTML", "<a href=/a.zip><a href=/b.exe>"),
              "<a href=" + ToBrowserReplacement("http://site.test/a.zip") +
                  "><a href=" + NotToDownloadReplacement("http://site.test/b.exe") + ">");
}

TEST_F(Relinking, PicturesAndStylesheetsOnlyWhenStoredAndByExactAddress) {
    TLister& list = Make();
    list.AddPicture("http://site.test/docs/p.gif");
    list.AddPicture("http://site.test/docs/q.gif");
    list.AddStylesheet("http://site.test/docs/s.css");
    list.SetStateOf(phPictures, 0, stSavedOther);
    list.SetStateOf(phStylesheets, 0, stSavedText);
    Rig rig{*this, list};
    EXPECT_EQ(rig.Relink("INDEX.HTML",
                         "<img src=p.gif><img src=P.gif><img src=q.gif>"
                         "<link rel=stylesheet href=s.css#x>"
                         "<link rel=stylesheet href='s.css'><link rel=x href='s.css'>"),
              "<img src=\"p.gif\"><img src=\"http://site.test/docs/P.gif\">"
              "<img src=\"http://site.test/docs/q.gif\">"
              "<link rel=stylesheet href=\"http://site.test/docs/s.css#x\">"
              "<link rel=stylesheet href=\"s.css\"><link rel=x href='s.css'>");
}

TEST_F(Relinking, NotStoredRelativeValuesPointAtTheServer) {
    TLister& list = Make();
    Rig rig{*this, list};
    // absolute and non-web values stay as written; a relative or
    // protocol-relative one would name nothing offline
    EXPECT_EQ(rig.Relink("INDEX.HTML", "<img src=http://x.test/a.gif><img src=//cdn.test/b.gif>"
                                       "<img src='data:image/gif,x'><img src=\"c d.gif\">"
                                       "<frame src=../up.htm><img src='q.gif?a=1&amp;b=2'>"),
              "<img src=http://x.test/a.gif><img src=\"http://cdn.test/b.gif\">"
              "<img src='data:image/gif,x'><img src=\"http://site.test/docs/c%20d.gif\">"
              "<frame src=\"http://site.test/up.htm\">"
              "<img src=\"http://site.test/docs/q.gif?a=1&amp;b=2\">");
    // a local name an earlier save wrote, in a page taken over, stays
    WriteFile("kept.gif", "GIF");
    EXPECT_EQ(rig.Relink("INDEX.HTML", "<img src=\"kept.gif\"><img src=kept.gif>"),
              "<img src=\"kept.gif\"><img src=\"http://site.test/docs/kept.gif\">");
}

TEST_F(Relinking, FramesMatchStoredOrHandledPagesButNotSkippedOnes) {
    TLister& list = Make();
    list.AddLink("http://site.test/docs/top.htm", "");
    list.AddLink("http://site.test/docs/left.htm", "");
    list.AddLink("http://site.test/docs/right.htm", "");
    list.SetStateOf(phPages, 1, stSavedText);
    list.SetStateOf(phPages, 2, stSkipped);
    list.SetStateOf(phPages, 3, stNotToDownload);
    Rig rig{*this, list};
    EXPECT_EQ(rig.Relink("INDEX.HTML",
                         "<frame src=top.htm#a><frame src=left.htm><frame src=right.htm><frame "
                         "src=none.htm>"),
              "<frame src=\"top.htm#a\"><frame src=\"http://site.test/docs/left.htm\">"
              "<frame src=\"right.htm\"><frame src=\"http://site.test/docs/none.htm\">");
}

TEST_F(Relinking, NonWebAnchorsAndEarlierLocalLinksStay) {
    TLister& list = Make();
    WriteFile("kept.htm", "x");
    const std::string earlier = "<a href=\"mailto:a@b\">m</a><a href='JavaScript:go()'>j</a>"
                                "<a href=data:text/plain,x>d</a><a href=TEL:123>t</a>"
                                "<a href=\"ftp://f.test/x.zip\">f</a><a href=file:///etc>e</a>"
                                "<a href=\"android-app://a.b/http/h\">a</a>"
                                "<a href=\"kept.htm#s\">k</a><a href=" +
                                NotSelectedReplacement("http://x.test/") + ">n</a>";
    Rig rig{*this, list};
    EXPECT_EQ(rig.Relink("INDEX.HTML", earlier), earlier);
    // without quotes, or for a file that is not there, the link is an ordinary one
    const std::string page = rig.Relink("INDEX.HTML", "<a href=kept.htm><a href=\"gone.htm\">");
    EXPECT_EQ(page, "<a href=" + NotSelectedReplacement("http://site.test/docs/kept.htm") +
                        "><a href=" + NotSelectedReplacement("http://site.test/docs/gone.htm") +
                        ">");
}

TEST_F(Relinking, PagesWithoutValuesOrChangesAreLeftByteForByte) {
    TLister& list = Make();
    Rig rig{*this, list};
    const std::string text = std::string("plain text\r\n\0with a zero", 25);
    EXPECT_EQ(rig.Relink("INDEX.HTML", text), text);
    EXPECT_EQ(rig.Relink("INDEX.HTML", "<img src=http://x.test/x.gif>\0tail"),
              "<img src=http://x.test/x.gif>");
}

TEST_F(Relinking, FailedWriteLeavesTheOldPageAndRaises) {
    TLister& list = Make();
    list.AddLink("http://site.test/docs/a.htm", "");
    list.SetStateOf(phPages, 1, stSavedText);
    const std::string old = "<a href=a.htm>" + std::string(100, 'x');
    WriteFile("INDEX.HTML", old);
    list.ResetToPages();
    // A file size limit makes the write fail even for root, as a full disk would.
    struct rlimit saved {};
    ::getrlimit(RLIMIT_FSIZE, &saved);
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 64;
    ::setrlimit(RLIMIT_FSIZE, &small);
    EXPECT_THROW(RelinkPage(list), std::system_error);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);
    EXPECT_EQ(ReadFile("INDEX.HTML"), old);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(Folder), {}), 1);
}

TEST_F(Relinking, RelinkNextWalksStoredPagesInOrderAndMarksThem) {
    TLister& list = Make();
    list.AddLink("http://site.test/a.htm", "");
    list.AddLink("http://site.test/b.htm", "");
    list.AddLink("http://site.test/c.htm", "");
    list.SetStateOf(phPages, 1, stSavedText);
    list.SetStateOf(phPages, 2, stSkipped);
    list.SetStateOf(phPages, 3, stSavedText);
    list.ResetToPages();
    std::vector<std::string> visited;
    while (RelinkNext(list)) {
        visited.push_back(list.CurrentFileName());
        EXPECT_EQ(list.CurrentState(), stRelinked);
    }
    EXPECT_EQ(visited, (std::vector<std::string>{"INDEX.HTML", "a.htm", "c.htm"}));
    EXPECT_EQ(list.Pages()[2].State, stSkipped);
    EXPECT_FALSE(RelinkNext(list));
}

TEST_F(Relinking, ValuesAreReadThroughThePagesBaseWhichIsEmptied) {
    TLister& list = Make();
    list.AddLink("http://site.test/docs/v1/intro.htm", "");
    list.AddPicture("http://site.test/docs/v1/img/p.gif");
    list.AddPicture("http://site.test/docs/v1/c.gif?v=2&p=1");
    list.AddStylesheet("http://site.test/docs/v1/s.css");
    list.SetStateOf(phPages, 1, stSavedText);
    list.SetStateOf(phPictures, 0, stSavedOther);
    list.SetStateOf(phPictures, 1, stSavedOther);
    list.SetStateOf(phStylesheets, 0, stSavedText);
    Rig rig{*this, list};
    // the raw text of each value is replaced, the rest of the page kept
    EXPECT_EQ(
        rig.Relink("INDEX.HTML",
                   "<head><BASE\nHREF='/docs/v1/' target=_top>"
                   "<link rel=stylesheet href=s.css><link rel=next href=intro.htm></head>"
                   "<a name=top></a><img src=\"img/p.gif\"><a\thref=intro.htm#x>i</a>"
                   "<img src=\"c.gif?v=2&amp;p=1\"><img srcset=\"img/p.gif 2x\" src=gone.gif>"),
        "<head><BASE\nHREF=\"\" target=_top>"
        "<link rel=stylesheet href=\"s.css\"><link rel=next href=intro.htm></head>"
        "<a name=top></a><img src=\"p.gif\"><a\thref=\"intro.htm#x\">i</a>"
        "<img src=\"c.gif\"><img srcset=\"p.gif 2x\" "
        "src=\"http://site.test/docs/v1/gone.gif\">");
}
