// What joins the list beyond pages, pictures and style sheets: scripts,
// frame pages, the other pictures of a page, and what style sheets name.
#include "ListerFixture.h"

#include <algorithm>

using namespace larkspool;
using Requisites = larkspool::check::ListerTest;

using larkspool::check::URLs;

namespace {

std::vector<ItemRole> Roles(const std::vector<TListerItem>& List) {
    std::vector<ItemRole> roles;
    for (const TListerItem& item : List)
        roles.push_back(item.Role);
    return roles;
}

// Moves the cursor to the style sheet with this address, marking everything
// before it as done, as a run would.
bool ReachStylesheet(TLister& List, const std::string& URL) {
    if (!List.FindFirst())
        return false;
    do {
        if (List.Phase() == phStylesheets && List.CurrentURL() == URL)
            return true;
        List.SetCurrentState(stSavedOther);
    } while (List.FindNext());
    return false;
}

} // namespace

TEST_F(Requisites, ADownloadedPageGivesEveryFileItShows) {
    Settings.ShowPictures = true;
    TLister& list = Make();
    list.AddLink("http://site.test/docs/guide/page.htm", "");
    ASSERT_TRUE(list.FindFirst());
    WriteFile(list.CurrentFileName(),
              "<script src=\"../js/nav.js\"></script><script>var x = '<script src=no.js>';</script>"
              "<iframe src=\"toc.html\"></iframe>"
              "<img srcset=\"a-1x.png 1x, a-2x.png 2x\" src=\"a-1x.png\">"
              "<picture><source srcset=\"wide.webp 800w,narrow.webp 400w\"></picture>"
              "<video poster=poster.jpg></video><input type=image src=go.png>"
              "<body background=\"paper.gif\">"
              "<div style=\"background: url(&quot;banner.svg&quot;)\"></div>"
              "<style>@font-face { src: url(fonts/f.woff2) format('woff2') }"
              " @import 'print.css';</style>");
    list.ScanCurrentPage();
    EXPECT_EQ(URLs(list.Pages()),
              (std::vector<std::string>{Page.Url, "http://site.test/docs/guide/page.htm",
                                        "http://site.test/docs/guide/toc.html"}));
    EXPECT_EQ(list.Pages()[2].Role, ItemRole::FramePage);
    EXPECT_EQ(list.Pages()[2].State, stToDownload);
    EXPECT_EQ(
        URLs(list.Pictures()),
        (std::vector<std::string>{
            "http://site.test/docs/guide/a-1x.png", "http://site.test/docs/guide/a-2x.png",
            "http://site.test/docs/guide/wide.webp", "http://site.test/docs/guide/narrow.webp",
            "http://site.test/docs/guide/poster.jpg", "http://site.test/docs/guide/go.png",
            "http://site.test/docs/guide/paper.gif"}));
    EXPECT_EQ(URLs(list.Stylesheets()),
              (std::vector<std::string>{"http://site.test/docs/js/nav.js",
                                        "http://site.test/docs/guide/banner.svg",
                                        "http://site.test/docs/guide/fonts/f.woff2",
                                        "http://site.test/docs/guide/print.css"}));
    EXPECT_EQ(Roles(list.Stylesheets()),
              (std::vector<ItemRole>{ItemRole::Script, ItemRole::StyleFile, ItemRole::StyleFile,
                                     ItemRole::StyleSheet}));
    EXPECT_EQ(list.Stylesheets()[3].Depth, 1);
}

TEST_F(Requisites, FramesAreFollowedOneLevelDeepOnly) {
    TLister& list = Make();
    list.AddLink("http://site.test/docs/set.htm", "");
    ASSERT_TRUE(list.FindFirst());
    WriteFile(list.CurrentFileName(), "<frameset><frame src=left.htm><frame src=right.htm>");
    list.ScanCurrentPage();
    ASSERT_EQ(list.Pages().size(), 4u);
    list.SetCurrentState(stSavedText);
    ASSERT_TRUE(list.FindNext());
    EXPECT_EQ(list.CurrentURL(), "http://site.test/docs/left.htm");
    // A frame page's own frames and iframes stay on the server.
    WriteFile(list.CurrentFileName(), "<iframe src=deeper.htm></iframe><img src=shown.png>");
    list.ScanCurrentPage();
    EXPECT_EQ(list.Pages().size(), 4u);
    EXPECT_EQ(URLs(list.Pictures()), (std::vector<std::string>{"http://site.test/docs/shown.png"}));
    // The browser's own documents list their frames through the browser.
    list.GatherFromPage("<iframe src=other.htm></iframe>", Page.Url,
                        {.Images = false, .Frames = false});
    EXPECT_EQ(list.Pages().size(), 4u);
}

TEST_F(Requisites, OptionsTurnScriptsAndStyleFilesOff) {
    Settings.SaveScripts = false;
    Settings.SaveStyleFiles = false;
    TLister& list = Make();
    list.GatherFromPage("<script src=a.js></script><p style=\"background:url(b.png)\">"
                        "<style>@import url(c.css); i { cursor: url(d.cur) }</style>",
                        Page.Url);
    // An imported sheet is a style sheet like a linked one: still followed.
    EXPECT_EQ(URLs(list.Stylesheets()), (std::vector<std::string>{"http://site.test/docs/c.css"}));
}

TEST_F(Requisites, StyleSheetsResolveAgainstThemselvesAndImportsAreBounded) {
    TLister& list = Make();
    list.AddStylesheet("http://site.test/docs/css/theme/main.css");
    ASSERT_TRUE(ReachStylesheet(list, "http://site.test/docs/css/theme/main.css"));
    WriteFile(list.CurrentFileName(),
              "@import url(\"../colors.css\");\n"
              "body { background: url(../../img/bg.png) }\n"
              "@font-face { src: url('/fonts/a.woff2#x') format('woff2'), "
              "url(data:font/woff2;base64,AA) }\n"
              "/* url(commented.png) */ i { background: url(\"https://cdn.test/i.png\") }");
    list.ScanCurrentPage();
    EXPECT_EQ(URLs(list.Stylesheets()),
              (std::vector<std::string>{
                  "http://site.test/docs/css/theme/main.css",
                  "http://site.test/docs/css/colors.css", "http://site.test/docs/img/bg.png",
                  "http://site.test/fonts/a.woff2", "https://cdn.test/i.png"}));
    list.SetCurrentState(stSavedText);

    // A chain of imports that comes back to where it started is followed
    // once; one that goes on for ever stops at the bound.
    ASSERT_TRUE(ReachStylesheet(list, "http://site.test/docs/css/colors.css"));
    WriteFile(list.CurrentFileName(), "@import 'theme/main.css'; @import 'chain0.css';");
    list.ScanCurrentPage();
    list.SetCurrentState(stSavedText);
    for (int i = 0; i < 20; ++i) {
        const std::string name = "chain" + std::to_string(i) + ".css";
        if (!ReachStylesheet(list, "http://site.test/docs/css/" + name))
            break;
        WriteFile(list.CurrentFileName(), "@import 'chain" + std::to_string(i + 1) + ".css';");
        list.ScanCurrentPage();
        list.SetCurrentState(stSavedText);
    }
    const auto& sheets = list.Stylesheets();
    EXPECT_EQ(std::count_if(
                  sheets.begin(), sheets.end(),
                  [](const TListerItem& i) { return i.URL.find("main.css") != std::string::npos; }),
              1);
    const auto deepest = std::max_element(sheets.begin(), sheets.end(),
                                          [](auto& a, auto& b) { return a.Depth < b.Depth; });
    EXPECT_EQ(deepest->Depth, TLister::MaxImportDepth);
    EXPECT_LT(sheets.size(), 20u);
}

TEST_F(Requisites, ScriptsAndStyleFilesAreNotReadForMoreFiles) {
    TLister& list = Make();
    list.GatherFromPage("<script src=a.js></script><p style=\"background:url(b.svg)\">", Page.Url);
    ASSERT_TRUE(ReachStylesheet(list, "http://site.test/docs/a.js"));
    WriteFile(list.CurrentFileName(), "document.write('<img src=x.png>'); url(y.png)");
    list.ScanCurrentPage();
    list.SetCurrentState(stSavedText);
    ASSERT_TRUE(ReachStylesheet(list, "http://site.test/docs/b.svg"));
    WriteFile(list.CurrentFileName(), "<svg><image href=\"z.png\" style=\"fill:url(#g)\"/></svg>");
    list.ScanCurrentPage();
    EXPECT_EQ(list.Stylesheets().size(), 2u);
    EXPECT_TRUE(list.Pictures().empty());
}

TEST_F(Requisites, ASheetTakenOverNamesLocalFilesThatAreNotFetchedAgain) {
    Settings.SaveExistF = true;
    WriteFile("bg.png", "picture of the earlier save");
    WriteFile("fresh.css", "b{}");
    TLister& list = Make();
    list.AddStylesheet("http://site.test/docs/css/site.css");
    ASSERT_TRUE(ReachStylesheet(list, "http://site.test/docs/css/site.css"));
    // What the earlier relinking wrote: local names, and the server's
    // address for what it did not store.
    WriteFile(list.CurrentFileName(),
              "a { background: url(\"bg.png\") } b { background: url(\"gone.png\") }"
              " c { background: url(\"http://site.test/docs/img/c.png\") }");
    list.ScanCurrentPage();
    EXPECT_EQ(URLs(list.Stylesheets()),
              (std::vector<std::string>{"http://site.test/docs/css/site.css",
                                        "http://site.test/docs/css/gone.png",
                                        "http://site.test/docs/img/c.png"}));
}

TEST_F(Requisites, ImportsStopAtABoundAndPicturesShownAreFetchedOnce) {
    Settings.ShowPictures = true;
    TLister& list = Make();
    list.AddPicture("http://site.test/docs/logo.png");
    std::string css = "a { background: url(logo.png) } b { background: url(other.png) }";
    for (int i = 0; i < TLister::MaxImportedSheets + 50; ++i)
        css += "@import 'made-up-" + std::to_string(i) + ".css';";
    list.GatherFromStyleSheet(css, Page.Url, 0);
    EXPECT_EQ(list.Stylesheets().size(), static_cast<std::size_t>(TLister::MaxImportedSheets) + 1);
    EXPECT_EQ(list.Stylesheets()[0].URL, "http://site.test/docs/other.png");
    EXPECT_EQ(list.Pictures().size(), 1u);
    // Without pictures the sheet's own file is fetched for it.
    Settings.ShowPictures = false;
    list.GatherFromStyleSheet("a { background: url(logo.png) }", Page.Url, 0);
    EXPECT_EQ(list.Stylesheets().back().URL, "http://site.test/docs/logo.png");
}
