// Link rewriting inside CSS (style sheets, style elements, style attributes),
// inside srcset lists, and of scripts, frames and other pictures.
#include "html/StyleRelinker.h"
#include "html/InertScripts.h"
#include "html/Relinker.h"

#include "lister/ListerFixture.h"

using namespace larkspool;
using StyleRelinking = larkspool::check::ListerTest;

namespace {

void Store(TLister& List, TListerPhase Phase, const std::string& URL, TItemState State) {
    const auto& items = Phase == phPages      ? List.Pages()
                        : Phase == phPictures ? List.Pictures()
                                              : List.Stylesheets();
    for (std::size_t i = 0; i < items.size(); ++i)
        if (items[i].URL == URL)
            List.SetStateOf(Phase, i, State);
}

} // namespace

TEST_F(StyleRelinking, SheetsNameTheirStoredFilesLocallyAndTheRestOnTheServer) {
    TLister& list = Make();
    list.AddStylesheet("http://site.test/docs/css/theme/main.css");
    list.AddStyleFile("http://site.test/docs/img/bg.png", false, 1);
    list.AddStyleFile("http://site.test/fonts/a.woff2", false, 1);
    list.AddStyleFile("http://site.test/docs/img/skipped.png", false, 1);
    list.AddStyleFile("http://site.test/docs/css/colors.css", true, 0);
    Store(list, phStylesheets, "http://site.test/docs/css/theme/main.css", stSavedText);
    Store(list, phStylesheets, "http://site.test/docs/img/bg.png", stSavedOther);
    Store(list, phStylesheets, "http://site.test/fonts/a.woff2", stSavedOther);
    Store(list, phStylesheets, "http://site.test/docs/img/skipped.png", stSkipped);
    Store(list, phStylesheets, "http://site.test/docs/css/colors.css", stSavedText);
    const std::string sheet = "@import '../colors.css';\n"
                              "body { background: url( ../../img/bg.png ) }\n"
                              "@font-face { src: url('/fonts/a.woff2#x') format('woff2') }\n"
                              "p { background: URL(../../img/skipped.png) } /* url(bg.png) */\n"
                              "q { background: url(data:image/png;base64,AA) }\n"
                              "r { background: url(https://cdn.test/r.png) }";
    WriteFile("main.css", sheet);
    std::vector<std::string> problems;
    RelinkStyleSheets(list, [&](const std::string& URL, const std::string& Why) {
        problems.push_back(URL + ": " + Why);
    });
    EXPECT_TRUE(problems.empty());
    EXPECT_EQ(ReadFile("main.css"),
              "@import url(\"colors.css\");\n"
              "body { background: url(\"bg.png\") }\n"
              "@font-face { src: url(\"a.woff2\") format('woff2') }\n"
              "p { background: url(\"http://site.test/docs/img/skipped.png\") } /* url(bg.png) */\n"
              "q { background: url(data:image/png;base64,AA) }\n"
              "r { background: url(https://cdn.test/r.png) }");

    // Relinked again (a later save that takes the sheet over, its files
    // there): unchanged.
    for (const char* name : {"bg.png", "a.woff2", "colors.css"})
        WriteFile(name, "stored");
    const std::string once = ReadFile("main.css");
    RelinkStyleSheets(list, [&](const std::string& URL, const std::string& Why) {
        problems.push_back(URL + ": " + Why);
    });
    EXPECT_EQ(ReadFile("main.css"), once);
    EXPECT_TRUE(problems.empty());
}

TEST_F(StyleRelinking, OnlyStoredStyleSheetsAreRewritten) {
    TLister& list = Make();
    list.AddStylesheet("http://site.test/docs/a.css");
    list.AddScript("http://site.test/docs/a.js");
    list.AddStyleFile("http://site.test/docs/b.png", false, 0);
    Store(list, phStylesheets, "http://site.test/docs/a.js", stSavedText);
    Store(list, phStylesheets, "http://site.test/docs/b.png", stSavedOther);
    WriteFile("a.css", "x { background: url(b.png) }"); // never stored: stays
    WriteFile("a.js", "var u = 'url(b.png)';");
    RelinkStyleSheets(list, [](const std::string&, const std::string&) {});
    EXPECT_EQ(ReadFile("a.css"), "x { background: url(b.png) }");
    EXPECT_EQ(ReadFile("a.js"), "var u = 'url(b.png)';");
}

TEST_F(StyleRelinking, PagesRelinkEveryKindOfValue) {
    Settings.ShowPictures = true;
    TLister& list = Make();
    list.AddLink("http://site.test/docs/guide/page.htm", "");
    list.AddFramePage("http://site.test/docs/guide/toc.html");
    list.AddPicture("http://site.test/docs/guide/a-1x.png");
    list.AddPicture("http://site.test/docs/guide/a-2x.png");
    list.AddPicture("http://site.test/docs/guide/poster.jpg");
    list.AddScript("http://site.test/docs/js/nav.js");
    list.AddStyleFile("http://site.test/docs/guide/banner.svg", false, 0);
    list.AddStyleFile("http://site.test/docs/guide/f.woff2", false, 0);
    Store(list, phPages, "http://site.test/docs/guide/page.htm", stSavedText);
    Store(list, phPages, "http://site.test/docs/guide/toc.html", stSavedText);
    for (const auto* u : {"a-1x.png", "a-2x.png", "poster.jpg"})
        Store(list, phPictures, std::string("http://site.test/docs/guide/") + u, stSavedOther);
    Store(list, phStylesheets, "http://site.test/docs/js/nav.js", stSavedText);
    Store(list, phStylesheets, "http://site.test/docs/guide/banner.svg", stSavedOther);
    Store(list, phStylesheets, "http://site.test/docs/guide/f.woff2", stSavedOther);
    const std::string name = list.Pages()[1].FileName;
    WriteFile(name, "<script src=\"../js/nav.js\"></script><iframe src=toc.html></iframe>"
                    "<img srcset=\"a-1x.png 1x,\na-2x.png 2x, gone.png 3x\" src=a-1x.png>"
                    "<video poster='poster.jpg'></video>"
                    "<div style=\"background: url(&quot;banner.svg&quot;) &amp; more\"></div>"
                    "<style>@font-face { src: url(f.woff2) }</style><p style='color: red'>"
                    "<link rel=preload as=font href=f.woff2><link rel=preload href=/p.js>");
    list.ResetToPages();
    while (list.CurrentFileName() != name)
        ASSERT_TRUE(list.StepCurrentIndex());
    RelinkPage(list);
    EXPECT_EQ(ReadFile(name),
              "<script src=\"nav.js\"></script><iframe src=\"" + list.Pages()[2].FileName +
                  "\"></iframe>"
                  "<img srcset=\"a-1x.png 1x,\na-2x.png 2x, http://site.test/docs/guide/gone.png "
                  "3x\" src=\"a-1x.png\">"
                  "<video poster=\"poster.jpg\"></video>"
                  "<div style=\"background: url(&quot;banner.svg&quot;) &amp; more\"></div>"
                  "<style>@font-face { src: url(\"f.woff2\") }</style><p style='color: red'>"
                  "<link rel=preload as=font href=\"f.woff2\">"
                  "<link rel=preload href=\"http://site.test/p.js\">");
}

TEST(InertScripts, EveryScriptElementGetsATypeThatDoesNotRun) {
    EXPECT_EQ(MakeScriptsInert("<head><script src=\"a.js\"></script><SCRIPT type=\"module\">"
                               "var s = '<script>';</SCRIPT><script>x()</script></head>"),
              "<head><script type=\"text/x-larkspool-inert\" src=\"a.js\"></script>"
              "<SCRIPT type=\"text/x-larkspool-inert\" type=\"module\">var s = '<script>';"
              "</SCRIPT><script type=\"text/x-larkspool-inert\">x()</script></head>");
    // Comments, other tags that start alike, and pages without scripts.
    EXPECT_EQ(MakeScriptsInert("<!-- <script> --><scripts><noscript>n</noscript>"),
              "<!-- <script> --><scripts><noscript>n</noscript>");
    EXPECT_EQ(MakeScriptsInert("<p>1 < 2</p><script"), "<p>1 < 2</p><script");
    EXPECT_EQ(MakeScriptsInert("<script>unended"),
              "<script type=\"text/x-larkspool-inert\">unended");
}
