#include "html/DocumentPages.h"

#include "lister/ListerFixture.h"

using namespace larkspool;
using DocumentPages = larkspool::check::ListerTest;

using larkspool::check::URLs;

TEST_F(DocumentPages, MainPageAloneIsItsRootMarkupAndItsStylesheets) {
    StartPageURL = Page.Url;
    Page.Preamble = "<!DOCTYPE html>";
    Page.Html = "<html><head><meta charset=\"utf-8\"><link rel=stylesheet href=\"../css/s.css\">"
                "<link rel=stylesheet href='../css/s.css#again'><link rel=icon>"
                "</head><body><a href=x.htm>x</a><img src=p.gif></body></html>";
    TLister& list = Make();
    SaveDocumentPages(list, Variant(MakeMemoryWindow(Page)));
    EXPECT_EQ(ReadFile("INDEX.HTML"), Page.Html);
    // the link tag without href takes the next href, even an anchor's
    EXPECT_EQ(URLs(list.Stylesheets()), (std::vector<std::string>{"http://site.test/css/s.css",
                                                                  "http://site.test/docs/x.htm"}));
    EXPECT_EQ(list.Pictures().size(), 0u); // pictures come from the browser's collections
}

TEST_F(DocumentPages, FramesetWritesEveryFrameUnderItsItemsName) {
    StartPageURL = Page.Url;
    Page.Html = "<html><head><meta charset=utf-8><link href=main.css></head>"
                "<frameset><frame src=top.htm><frame src=sub/></frameset></html>";
    MemoryPage top, sub;
    top.Url = "http://site.test/docs/top.htm";
    top.Html =
        "<html><head><meta charset=utf-8><link href=main.css><link href=t.css></head></html>";
    sub.Url = "http://site.test/docs/sub/";
    sub.Html = "<html><head><meta charset=utf-8><link href=s.css></head></html>";
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

TEST_F(DocumentPages, RefusedFrameDocumentIsAnError) {
    StartPageURL = Page.Url;
    Page.Html = "<html></html>";
    MemoryPage frame;
    frame.Url = "http://elsewhere.test/f.htm";
    Page.Frames = {frame};
    TLister& list = Make();
    Page.Frames[0].CrossOrigin = true; // the frame navigated away after the list was made
    EXPECT_THROW(SaveDocumentPages(list, Variant(MakeMemoryWindow(Page))), DispatchError);
    EXPECT_EQ(ReadFile("INDEX.HTML"), "\xEF\xBB\xBF<html></html>"); // written before the failure
}
