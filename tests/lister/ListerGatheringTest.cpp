#include "ListerFixture.h"

using namespace larkspool;
using Gathering = larkspool::check::ListerTest;

using larkspool::check::URLs;

TEST_F(Gathering, CreateListsMainPageFramesAndTheirPicturesInOrder) {
    Page.Images = {"http://site.test/logo.gif", "http://site.test/a.gif",
                   "http://site.test/logo.gif"};
    MemoryPage top;
    top.Url = "http://site.test/docs/top.htm";
    top.Title = "Top";
    top.Images = {"http://site.test/a.gif", "http://site.test/t.gif"};
    MemoryPage folder;
    folder.Url = "http://site.test/docs/menu/";
    folder.Images = {"http://site.test/m.gif"};
    Page.Frames = {top, folder};
    TLister& list = Make();

    ASSERT_EQ(list.Pages().size(), 3u);
    EXPECT_EQ(list.Pages()[0].URL, Page.Url);
    EXPECT_EQ(list.Pages()[0].Title, "Docs");
    EXPECT_EQ(list.Pages()[1].URL, "http://site.test/docs/top.htm");
    EXPECT_EQ(list.Pages()[1].Title, "Top");
    EXPECT_EQ(list.Pages()[1].FileName, "top.htm");
    EXPECT_EQ(list.Pages()[1].State, stFromDocument);
    EXPECT_EQ(list.Pages()[2].FileName, "f0");
    EXPECT_EQ(URLs(list.Pictures()),
              (std::vector<std::string>{"http://site.test/logo.gif", "http://site.test/a.gif",
                                        "http://site.test/t.gif", "http://site.test/m.gif"}));
}

TEST_F(Gathering, FailingBrowserCallEndsCreate) {
    const auto window = AsMemoryObject(MakeMemoryWindow(Page));
    window->SetMethod("document", 0, 0, [](const std::vector<Variant>&) -> Variant {
        throw DispatchError("the page is gone");
    });
    EXPECT_THROW(TLister{Variant(DispatchPtr(window))}, DispatchError);
}

TEST_F(Gathering, FramesOfAnotherOriginAreListedAndTheUnreadableByAddress) {
    MemoryPage ad, gone, after;
    ad.Url = "http://elsewhere.test/ad.htm";
    ad.Title = "Advert";
    ad.CrossOrigin = true;
    ad.Images = {"http://elsewhere.test/banner.gif"};
    gone.Url = "http://vanished.test/map.htm";
    gone.Title = "Map";
    gone.Images = {"http://vanished.test/tile.gif"};
    gone.Unreadable = true;
    after.Url = "http://site.test/docs/after.htm";
    after.Title = "After";
    after.Images = {"http://site.test/after.gif"};
    Page.Frames = {ad, gone, after};
    TLister& list = Make();
    ASSERT_EQ(list.Pages().size(), 4u);
    EXPECT_EQ(list.Pages()[1].Title, "Advert");
    EXPECT_EQ(list.Pages()[2].URL, "http://vanished.test/map.htm");
    EXPECT_EQ(list.Pages()[2].Title, "");
    EXPECT_EQ(list.Pages()[2].FileName, "map.htm");
    EXPECT_EQ(list.Pages()[2].State, stFromDocument);
    EXPECT_EQ(list.Pages()[3].Title, "After");
    EXPECT_EQ(URLs(list.Pictures()), (std::vector<std::string>{"http://elsewhere.test/banner.gif",
                                                               "http://site.test/after.gif"}));
}

TEST_F(Gathering, LinksAreRefusedAsMailtoOrKnownPages) {
    MemoryPage frame;
    frame.Url = "http://site.test/docs/frame.htm";
    Page.Frames = {frame};
    TLister& list = Make();
    list.AddLink("http://site.test/docs/index.html#top", "self");
    list.AddLink("http://site.test/docs/frame.htm", "frame");
    list.AddLink("http://site.test/cgi?to=MailTo:x", "mail");
    list.AddLink("", "empty");
    list.AddLink("http://site.test/a.htm#one", "a");
    list.AddLink("http://site.test/a.htm#two", "a again");
    ASSERT_EQ(list.Pages().size(), 3u);
    EXPECT_EQ(list.Pages()[2].URL, "http://site.test/a.htm");
    EXPECT_EQ(list.Pages()[2].Title, "a");
}

TEST_F(Gathering, ListedExtensionsFollowTheChosenHandling) {
    Settings.Extensions = "ZIP  exe";
    for (int handling : {0, 1, 2, 3}) {
        Settings.DoWithExtensions = handling;
        TLister& list = Make();
        list.AddLink("http://site.test/archive.ZIP", "");
        list.AddLink("http://site.test/file.zip?dl=1", "");
        ASSERT_EQ(list.Pages().size(), 3u);
        const TItemState expected = handling == 1   ? stToBrowser
                                    : handling == 2 ? stNotToDownload
                                                    : stToDownload;
        EXPECT_EQ(list.Pages()[1].State, expected) << handling;
        EXPECT_EQ(list.Pages()[2].State, stToDownload) << "zip?dl=1 is not zip";
    }
}

TEST_F(Gathering, ExternalPicturesByExactHostPart) {
    Settings.NotExtPic = true;
    TLister& list = Make();
    for (const char* url :
         {"http://site.test/a.gif", "HTTP://SITE.TEST/b.gif", "http://other.test/c.gif",
          "https://site.test/d.gif", "http://site.test:8080/e.gif", "http://cdn.site.test/f.gif"})
        list.AddPicture(url);
    EXPECT_EQ(URLs(list.Pictures()),
              (std::vector<std::string>{"http://site.test/a.gif", "HTTP://SITE.TEST/b.gif"}));
}

TEST_F(Gathering, CapitalsInTheMainPageHostMakeEveryPictureExternal) {
    Settings.NotExtPic = true;
    Page.Url = "http://Site.test/index.html";
    TLister& list = Make();
    list.AddPicture("http://Site.test/a.gif");
    EXPECT_TRUE(list.Pictures().empty());
}

TEST_F(Gathering, KeywordsMatchAnywhereInTheLowerCasedAddress) {
    Settings.NotKeyPic = true;
    Settings.KeyWords = "AD banner";
    TLister& list = Make();
    for (const char* url : {"http://site.test/shadow.gif", "http://site.test/DOWNLOAD.png",
                            "http://site.test/x.gif?Banner=1", "http://site.test/logo.gif"})
        list.AddPicture(url);
    EXPECT_EQ(URLs(list.Pictures()), std::vector<std::string>{"http://site.test/logo.gif"});
}

TEST_F(Gathering, PicturesAreUniqueByExactAddressStylesheetsWithoutFragment) {
    TLister& list = Make();
    list.AddPicture("http://site.test/a.gif");
    list.AddPicture("http://site.test/a.gif");
    list.AddPicture("http://site.test/A.gif");
    list.AddPicture("http://site.test/a.gif#x");
    EXPECT_EQ(list.Pictures().size(), 3u);
    list.AddStylesheet("http://site.test/s.css#a");
    list.AddStylesheet("http://site.test/s.css#b");
    list.AddStylesheet("http://site.test/favicon.ico");
    EXPECT_EQ(URLs(list.Stylesheets()),
              (std::vector<std::string>{"http://site.test/s.css", "http://site.test/favicon.ico"}));
}

TEST_F(Gathering, ScanOfASavedPageAddsItsPicturesAndLinkTargets) {
    Settings.ShowPictures = true;
    Page.Images = {"http://site.test/img/known.gif"};
    TLister& list = Make();
    list.AddLink("http://site.test/docs/guide/page.htm", "");
    ASSERT_TRUE(list.FindFirst());
    WriteFile(list.CurrentFileName(),
              "<link rel=stylesheet href=\"../css/s.css\"><link rel=icon href='/favicon.ico'>\n"
              "<img src=\"../../img/known.gif\"> <IMG SRC=pic.png> <a href=x.htm>x</a>\n"
              "<img src=\"\n\tsub\\p2.gif\r\n\"><frame src=f.htm>");
    list.ScanCurrentPage();
    // the icon is a picture of the page, not a style sheet
    EXPECT_EQ(
        URLs(list.Pictures()),
        (std::vector<std::string>{"http://site.test/img/known.gif", "http://site.test/favicon.ico",
                                  "http://site.test/docs/guide/pic.png",
                                  "http://site.test/docs/guide/sub/p2.gif"}));
    EXPECT_EQ(URLs(list.Stylesheets()),
              (std::vector<std::string>{"http://site.test/docs/css/s.css"}));
}

TEST_F(Gathering, ScanTakesWhatThePageMeans) {
    Settings.ShowPictures = true;
    TLister& list = Make();
    list.AddLink("http://site.test/app/page.htm", "");
    ASSERT_TRUE(list.FindFirst());
    WriteFile(list.CurrentFileName(),
              "<base href=\"/docs/v1/\"><base href=/ignored/>\n"
              "<img srcset=\"a-2x.png 2x\" src=\"a.png\">\n"
              "<a name=fig1></a><img\n  src=\"fig.png\">\n"
              "<link rel=canonical href=https://public.test/page.htm>"
              "<link rel=next href=next.htm><link rel=alternate href=feed.xml>"
              "<link rel=\"Alternate StyleSheet\" href=alt.css><link href=no-rel.css>\n"
              "<img src=\"c.gif?v=2&amp;p=1\"><img src=' &#x64;.gif '>\n"
              "<img src=\"//cdn.test/x.png\"><img src=\"./sub/../dot.png\">\n"
              "<!-- <img src=commented.png> -->");
    list.ScanCurrentPage();
    EXPECT_EQ(URLs(list.Pictures()),
              (std::vector<std::string>{
                  "http://site.test/docs/v1/a-2x.png", "http://site.test/docs/v1/a.png",
                  "http://site.test/docs/v1/fig.png",
                  "http://site.test/docs/v1/c.gif?v=2&p=1", "http://site.test/docs/v1/d.gif",
                  "http://cdn.test/x.png", "http://site.test/docs/v1/dot.png"}));
    EXPECT_EQ(URLs(list.Stylesheets()),
              (std::vector<std::string>{"http://site.test/docs/v1/alt.css"}));

    // a base that is not a web address is ignored, as browsers do
    ASSERT_TRUE(list.FindFirst());
    WriteFile(list.CurrentFileName(), "<base href='javascript:x'><img src=own.png>");
    list.ScanCurrentPage();
    EXPECT_EQ(URLs(list.Pictures()).back(), "http://site.test/app/own.png");
}

TEST_F(Gathering, ScanDoesNothingOutsideThePagesPhaseAndRaisesOnMissingFile) {
    Settings.ShowPictures = true;
    Page.Images = {"http://site.test/p.gif"};
    TLister& list = Make();
    list.AddLink("http://site.test/gone.htm", "");
    ASSERT_TRUE(list.FindFirst());
    EXPECT_THROW(list.ScanCurrentPage(), std::system_error);
    list.SetCurrentState(stSkipped);
    ASSERT_TRUE(list.FindNext());
    ASSERT_EQ(list.Phase(), phPictures);
    list.ScanCurrentPage(); // no file read at all
    EXPECT_EQ(list.Pictures().size(), 1u);
}

// Only http and https addresses are fetched: others never join the list,
// from the browser, from the link list or from a stored page.
TEST_F(Gathering, OnlyHttpAndHttpsAddressesJoin) {
    Page.Images = {"data:image/gif;base64,R0lGODlh", "ftp://site.test/p.gif",
                   "https://site.test/ok.gif"};
    TLister& list = Make();
    for (const char* link :
         {"javascript:go()", " JavaScript:go()", "data:text/html,x", "ftp://site.test/f.zip",
          "file:///etc/hostname", "android-app://x.y/http/h", "tel:123", "HTTP://site.test/ok.htm"})
        list.AddLink(link, "");
    list.AddStylesheet("ftp://site.test/s.css");
    list.AddPicture("gopher://site.test/g.gif");
    EXPECT_EQ(URLs(list.Pages()), (std::vector<std::string>{Page.Url, "HTTP://site.test/ok.htm"}));
    EXPECT_EQ(URLs(list.Pictures()), (std::vector<std::string>{"https://site.test/ok.gif"}));
    EXPECT_TRUE(list.Stylesheets().empty());

    ASSERT_TRUE(list.FindFirst());
    WriteFile(list.CurrentFileName(), "<img src=\"data:image/png;base64,iVBO\">"
                                      "<link rel=stylesheet href='data:text/css,a{}'>"
                                      "<img src=ftp://site.test/q.gif><img src=r.gif>");
    list.ScanCurrentPage();
    // read as a browser reads it: the scheme in lower case
    EXPECT_EQ(URLs(list.Pictures()),
              (std::vector<std::string>{"https://site.test/ok.gif", "http://site.test/r.gif"}));
    EXPECT_TRUE(list.Stylesheets().empty());
}
