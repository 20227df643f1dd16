#include "html/DocumentPages.h"

#include "lister/ListerFixture.h"
#include "support/ErrorOf.h"

#include <gmock/gmock.h>

#include <filesystem>
#include <functional>

using namespace larkspool;
using DocumentPages = larkspool::check::ListerTest;

using larkspool::check::URLs;

namespace {

std::string ErrorOf(const std::function<void()>& Action) {
    return check::ErrorOf<DispatchError>(Action);
}

} // namespace

TEST_F(DocumentPages, MainPageAloneIsItsRootMarkupAndItsStylesheets) {
    StartPageURL = Page.Url;
    Page.Preamble = "<!DOCTYPE html>";
    Page.Html = "<html><head><meta charset=\"utf-8\"><link rel=stylesheet href=\"../css/s.css\">"
                "<link rel=stylesheet href='../css/s.css#again'><link rel=icon>"
                "</head><body><a href=x.htm>x</a><img src=p.gif></body></html>";
    TLister& list = Make();
    SaveDocumentPages(list, Variant(MakeMemoryWindow(Page)));
    EXPECT_EQ(ReadFile("INDEX.HTML"), Page.Html);
    // a link tag without href gives nothing, not the anchor's href after it
    EXPECT_EQ(URLs(list.Stylesheets()), (std::vector<std::string>{"http://site.test/css/s.css"}));
    EXPECT_EQ(list.Pictures().size(), 0u); // pictures come from the browser's collections
}

TEST_F(DocumentPages, StylesheetsAndIconThroughTheDocumentsBase) {
    StartPageURL = Page.Url;
    Page.Html = "<html><head><base href=\"/assets/\"><link rel=\"stylesheet\" href=\"s.css\">"
                "<link rel=\"shortcut icon\" href=i.ico><link rel=canonical href=/docs/x.htm>"
                "</head><body><img src=p.gif></body></html>";
    TLister& list = Make();
    SaveDocumentPages(list, Variant(MakeMemoryWindow(Page)));
    EXPECT_EQ(URLs(list.Stylesheets()),
              (std::vector<std::string>{"http://site.test/assets/s.css"}));
    EXPECT_EQ(URLs(list.Pictures()), (std::vector<std::string>{"http://site.test/assets/i.ico"}));
}

TEST_F(DocumentPages, FramesetWritesEveryFrameUnderItsItemsName) {
    StartPageURL = Page.Url;
    Page.Html = "<html><head><meta charset=utf-8><link rel=stylesheet href=main.css></head>"
                "<frameset><frame src=top.htm><frame src=sub/></frameset></html>";
    MemoryPage top, sub;
    top.Url = "http://site.test/docs/top.htm";
    top.Html = "<html><head><meta charset=utf-8><link rel=stylesheet href=main.css><link "
               "rel=stylesheet href=t.css></head></html>";
    sub.Url = "http://site.test/docs/sub/";
    sub.Html = "<html><head><meta charset=utf-8><link rel=stylesheet href=s.css></head></html>";
    Page.Frames = {top, sub};
    TLister& list = Make();
    ASSERT_EQ(list.Pages()[2].FileName, "f0");
    SaveDocumentPages(list, Variant(MakeMemoryWindow(Page)));
    EXPECT_EQ(ReadFile("INDEX.HTML"), Page.Html);
    EXPECT_EQ(ReadFile("top.htm"), top.Html);
    EXPECT_EQ(ReadFile("f0"), sub.Html);
    EXPECT_EQ(
        URLs(list.Stylesheets()),
        (std::vector<std::string>{"http://site.test/docs/main.css", "http://site.test/docs/t.css",
                                  "http://site.test/docs/sub/s.css"}));
}

TEST_F(DocumentPages, PageInALegacyCharsetIsStoredInIt) {
    StartPageURL = Page.Url;
    Page.CharacterSet = "windows-1251";
    Page.Html = "<html><head><meta charset=\"windows-1251\"></head><body>Мир ♥</body></html>";
    TLister& list = Make();
    SaveDocumentPages(list, Variant(MakeMemoryWindow(Page)));
    EXPECT_EQ(ReadFile("INDEX.HTML"), "<html><head><meta charset=\"windows-1251\"></head><body>"
                                      "\xCC\xE8\xF0 &#9829;</body></html>");
}

TEST_F(DocumentPages, UnreadableFrameIsLeftOnTheServerAndTheOthersAreWritten) {
    StartPageURL = Page.Url;
    Page.Html = "<html><frameset><frame src=\"http://elsewhere.test/f.htm\">"
                "<frame src=\"g.htm\"></frameset></html>";
    MemoryPage frame, next;
    frame.Url = "http://elsewhere.test/f.htm";
    frame.Html = "<html><head><link rel=stylesheet href=f.css></head></html>";
    frame.CrossOrigin = true;
    next.Url = "http://site.test/docs/g.htm";
    next.Html = "<html><head><link rel=stylesheet href=g.css></head></html>";
    Page.Frames = {frame, next};
    TLister& list = Make();
    Page.Frames[0].Unreadable = true; // the frame went away after the list was made
    EXPECT_THAT(
        ErrorOf([&] { SaveDocumentPages(list, Variant(MakeMemoryWindow(Page))); }),
        ::testing::HasSubstr("the browser could not read the frame http://elsewhere.test/f.htm"));
    EXPECT_EQ(ReadFile("INDEX.HTML"), "\xEF\xBB\xBF" + Page.Html);
    EXPECT_FALSE(std::filesystem::exists(OutputFolder + "f.htm"));
    EXPECT_EQ(list.Pages()[1].State, stSkipped);
    EXPECT_EQ(ReadFile("g.htm"), "\xEF\xBB\xBF" + next.Html);
    EXPECT_EQ(list.Pages()[2].State, stFromDocument);
    EXPECT_EQ(URLs(list.Stylesheets()), (std::vector<std::string>{"http://site.test/docs/g.css"}));
}

TEST_F(DocumentPages, FrameOfAnotherOriginIsWrittenAsAnyFrame) {
    StartPageURL = Page.Url;
    Page.Html = "<html><frameset><frame src=\"http://elsewhere.test/f.htm\"></frameset></html>";
    MemoryPage frame;
    frame.Url = "http://elsewhere.test/f.htm";
    frame.Html = "<html><head><meta charset=utf-8><link rel=stylesheet href=f.css></head></html>";
    frame.CrossOrigin = true;
    Page.Frames = {frame};
    TLister& list = Make();
    SaveDocumentPages(list, Variant(MakeMemoryWindow(Page)));
    EXPECT_EQ(ReadFile("f.htm"), frame.Html);
    EXPECT_EQ(URLs(list.Stylesheets()), (std::vector<std::string>{"http://elsewhere.test/f.css"}));
}

TEST_F(DocumentPages, AStandardsModePageStaysInItAndItsScriptsDoNotRunAgain) {
    StartPageURL = Page.Url;
    Page.CompatMode = "CSS1Compat";
    Page.Html = "<html><head><meta charset=utf-8><script src=\"toc.js\"></script></head>"
                "<body><ul><li>built</li></ul>"
                "<iframe src=\"side.html\"></iframe></body></html>";
    MemoryPage quirks;
    quirks.Url = "http://site.test/docs/old.htm";
    quirks.Html = "<html><head><meta charset=utf-8></head><body><table><tr><td>old</td></tr>"
                  "</table></body></html>";
    Page.Frames = {quirks};
    TLister& list = Make();
    SaveDocumentPages(list, Variant(MakeMemoryWindow(Page)));
    EXPECT_EQ(ReadFile("INDEX.HTML"), "<!DOCTYPE html>\n<html><head><meta charset=utf-8><script "
                                      "type=\"text/x-larkspool-inert\" "
                                      "src=\"toc.js\"></script></head><body><ul><li>built</li></ul>"
                                      "<iframe src=\"side.html\"></iframe></body></html>");
    EXPECT_EQ(ReadFile(list.Pages()[1].FileName), quirks.Html); // quirks mode kept
    // The script is saved for the linked pages that run it; the browser
    // lists the document's frames itself.
    EXPECT_EQ(URLs(list.Stylesheets()), (std::vector<std::string>{"http://site.test/docs/toc.js"}));
    EXPECT_EQ(list.Pages().size(), 2u);
}
