// The offline check of a saved copy, in a real headless Chromium: pages in a
// temporary folder that ask for files that are there, files that are not,
// and files of a local server, which must never be asked.

#include "browser/OfflineCheck.h"
#include "support/LocalServer.h"
#include "support/TempFolder.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>

using namespace larkspool;
using larkspool::check::LocalServer;
using larkspool::check::TempFolder;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::Field;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::UnorderedElementsAre;

namespace {

const std::string Gif("GIF89a\x01\x00\x01\x00\x00\x00\x00,\x00\x00\x00\x00\x01\x00\x01\x00\x00\x02"
                      "\x00;",
                      26);

std::string FontBytes() {
    std::ifstream in("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf", std::ios::binary);
    std::string bytes{std::istreambuf_iterator<char>(in), {}};
    // Not a usable font, but the browser still fetches it to find out.
    return bytes.empty() ? std::string("not really a font") : bytes;
}

auto Problem(const std::string& Resource, const std::string& Reason) {
    return AllOf(Field(&OfflineProblem::Resource, Resource),
                 Field(&OfflineProblem::Reason, Reason));
}

class OfflineCheckTest : public ::testing::Test {
protected:
    // Anything the server is asked for proves the network was not cut.
    OfflineCheckTest()
        : Server([this](httplib::Server& S) {
              S.Get(R"(/.*)", [this](const httplib::Request&, httplib::Response& R) {
                  ++Asked;
                  R.set_content(Gif, "image/gif");
              });
          }) {}

    std::atomic<int> Asked{0};
    LocalServer Server;
    TempFolder Folder{"larkspool-offline"};
};

TEST(OfflineSummary, NumbersAndKinds) {
    OfflineReport report;
    report.Pictures = {1422, 1422};
    report.StyleSheets = {12, 12};
    EXPECT_EQ(report.SummaryLine(),
              "Checked offline: 1,422 of 1,422 pictures, 12 of 12 style sheets, 0 missing");
    report.Pictures = {30, 31};
    report.StyleSheets = {4, 4};
    report.Fonts = {2, 2};
    report.Scripts = {3, 3};
    report.Frames = {1, 1};
    report.Pages.push_back({"INDEX.HTML", {{"a.gif", "file not found"}}});
    EXPECT_EQ(report.Missing(), 1);
    EXPECT_EQ(report.SummaryLine(),
              "Checked offline: 30 of 31 pictures, 4 of 4 style sheets, 2 of 2 fonts, 3 of 3 "
              "scripts, 1 of 1 frames, 1 missing");
    EXPECT_EQ(GroupedNumber(0), "0");
    EXPECT_EQ(GroupedNumber(999), "999");
    EXPECT_EQ(GroupedNumber(1000), "1,000");
    EXPECT_EQ(GroupedNumber(1234567), "1,234,567");
    EXPECT_EQ(GroupedNumber(-12345), "-12,345");
}

// Every kind of file, present, missing and from the server; a page that
// asks for nothing; a page the list names but the folder lacks.
TEST_F(OfflineCheckTest, CountsAndReportsEveryKind) {
    const std::string remote = Server.Url("");
    Folder.Write("pic.gif", Gif);
    Folder.Write("inner.gif", Gif);
    Folder.Write("font.ttf", FontBytes());
    Folder.Write("style.css", "@font-face { font-family: Saved; src: url(font.ttf); }\n"
                              "body { font-family: Saved; }\n");
    Folder.Write("script.js", "document.title = 'ran';\n");
    Folder.Write("frame.html", "<!DOCTYPE html><p>inside</p><img src=\"inner.gif\">");
    Folder.Write("full page.html",
                 "<!DOCTYPE html><html><head>"
                 "<link rel=\"stylesheet\" href=\"style.css\">"
                 "<link rel=\"stylesheet\" href=\"" +
                     remote +
                     "/remote.css\">"
                     "<script src=\"script.js\"></script></head><body>"
                     "<p>Some text in the saved font</p>"
                     "<img src=\"pic.gif\"><img src=\"pic.gif\"><img src=\"missing.gif\">"
                     "<img src=\"" +
                     remote +
                     "/remote.gif\">"
                     "<iframe src=\"frame.html\"></iframe></body></html>");
    Folder.Write("empty.html", "<!DOCTYPE html><title>Nothing</title><p>No files here</p>");
    Folder.Write("second.html", "<!DOCTYPE html><img src=\"pic.gif\">");

    std::vector<std::string> progress;
    OfflineCheckOptions options;
    options.Progress = [&](std::size_t Done, std::size_t Count, const std::string& File) {
        progress.push_back(std::to_string(Done) + "/" + std::to_string(Count) + " " + File);
    };
    const OfflineReport report = CheckCopyOffline(
        Folder.Path(), {"full page.html", "empty.html", "gone.html", "second.html"}, options);

    EXPECT_EQ(Asked.load(), 0) << "a request reached the server";
    EXPECT_THAT(progress, ElementsAre("0/4 full page.html", "1/4 empty.html", "2/4 gone.html",
                                      "3/4 second.html", "4/4 "));
    ASSERT_EQ(report.Pages.size(), 4u);
    EXPECT_EQ(report.Pages[0].File, "full page.html");
    EXPECT_THAT(report.Pages[0].Problems,
                UnorderedElementsAre(Problem("missing.gif", "file not found"),
                                     Problem(remote + "/remote.gif", "needs the network"),
                                     Problem(remote + "/remote.css", "needs the network")));
    EXPECT_THAT(report.Pages[1].Problems, IsEmpty());
    EXPECT_THAT(report.Pages[2].Problems, ElementsAre(Problem("", "the page's file is not there")));
    EXPECT_THAT(report.Pages[3].Problems, IsEmpty());

    // pic.gif twice in one page is one picture; the second page's is its own.
    EXPECT_EQ(report.Pictures.Total, 5);
    EXPECT_EQ(report.Pictures.Loaded, 3);
    EXPECT_EQ(report.StyleSheets.Total, 2);
    EXPECT_EQ(report.StyleSheets.Loaded, 1);
    EXPECT_EQ(report.Fonts.Total, 1);
    EXPECT_EQ(report.Fonts.Loaded, 1);
    EXPECT_EQ(report.Scripts.Total, 1);
    EXPECT_EQ(report.Scripts.Loaded, 1);
    EXPECT_EQ(report.Frames.Total, 1);
    EXPECT_EQ(report.Frames.Loaded, 1);
    EXPECT_EQ(report.Other.Total, 0);
    EXPECT_EQ(report.Missing(), 4);
    EXPECT_EQ(report.SummaryLine(),
              "Checked offline: 3 of 5 pictures, 1 of 2 style sheets, 1 of 1 fonts, 1 of 1 "
              "scripts, 1 of 1 frames, 4 missing");
}

// A frame whose file is missing, a script that asks the server from the
// page, and a page that opens a window onto the server.
TEST_F(OfflineCheckTest, FramesScriptsAndWindowsStayOffline) {
    const std::string remote = Server.Url("");
    Folder.Write("INDEX.HTML",
                 "<!DOCTYPE html><iframe src=\"lost.html\"></iframe>"
                 "<script src=\"absent.js\"></script>"
                 "<script>fetch('" +
                     remote + "/data.json').catch(() => {}); window.open('" + remote +
                     "/popup.html'); alert('a dialog must not hold the check');</script>");
    const OfflineReport report = CheckCopyOffline(Folder.Path(), {"INDEX.HTML"}, {});

    ASSERT_EQ(report.Pages.size(), 1u);
    EXPECT_THAT(report.Pages[0].Problems,
                UnorderedElementsAre(Problem("lost.html", "file not found"),
                                     Problem("absent.js", "file not found"),
                                     Problem(remote + "/data.json", "needs the network")));
    EXPECT_EQ(report.Frames.Total, 1);
    EXPECT_EQ(report.Frames.Loaded, 0);
    EXPECT_EQ(report.Scripts.Total, 1);
    EXPECT_EQ(report.Other.Total, 1);
    EXPECT_THAT(report.SummaryLine(), HasSubstr(", 0 of 1 other files, 3 missing"));
    EXPECT_EQ(Asked.load(), 0) << "a request reached the server";
}

// A page that never stops asking is given up after the time limit and
// reported; the check goes on with the next page.
TEST_F(OfflineCheckTest, PageThatNeverSettles) {
    Folder.Write("pic.gif", Gif);
    Folder.Write("busy.html", "<!DOCTYPE html><script>let n = 0; setInterval(() => {"
                              " const i = new Image(); i.src = 'pic.gif?' + ++n; }, 40);</script>");
    Folder.Write("calm.html", "<!DOCTYPE html><img src=\"pic.gif\">");
    OfflineCheckOptions options;
    options.PageTimeout = std::chrono::milliseconds(2000);
    const OfflineReport report =
        CheckCopyOffline(Folder.Path(), {"busy.html", "calm.html"}, options);

    ASSERT_EQ(report.Pages.size(), 2u);
    EXPECT_THAT(report.Pages[0].Problems, Contains(Problem("", "it kept loading for 2 s")));
    EXPECT_GT(report.Pictures.Total, 2); // the busy page's many, and the calm one's
    EXPECT_THAT(report.Pages[1].Problems, IsEmpty());
    EXPECT_GE(report.Missing(), 1);
}

// Stopping ends the check early, with the pages checked so far.
TEST_F(OfflineCheckTest, CancelledCheckStops) {
    Folder.Write("a.html", "<p>a</p>");
    Folder.Write("b.html", "<p>b</p>");
    OfflineCheckOptions options;
    int pagesBegun = 0;
    options.Progress = [&](std::size_t, std::size_t, const std::string& File) {
        pagesBegun += File.empty() ? 0 : 1;
    };
    options.Cancelled = [&] { return pagesBegun >= 1; };
    const OfflineReport report = CheckCopyOffline(Folder.Path(), {"a.html", "b.html"}, options);
    ASSERT_EQ(report.Pages.size(), 1u);
    EXPECT_EQ(report.Pages[0].File, "a.html");
    EXPECT_THAT(report.Pages[0].Problems, ElementsAre(Problem("", "the check was stopped")));
}

TEST(OfflineCheck, BrowserThatCannotStart) {
    OfflineCheckOptions options;
    options.ChromiumPath = "/nonexistent/chromium";
    EXPECT_THROW(CheckCopyOffline("/tmp", {"x.html"}, options), std::exception);
}

} // namespace
