// The document-access interface over a real headless Chromium. One browser
// serves the whole suite; the pages come from two local servers, the second
// one standing for another origin.

#include "browser/DevToolsBrowser.h"
#include "browser/DevToolsConnection.h"
#include "browser/LinkCollection.h"
#include "browser/PageSnapshot.h"
#include "support/BridgeChecks.h"
#include "support/ErrorOf.h"
#include "support/LocalServer.h"
#include "support/ProcessGroup.h"
#include "support/Wait.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <thread>

using namespace larkspool;
using larkspool::check::LocalServer;
using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::StartsWith;

namespace {

template <typename F> std::string ErrorOf(F Action) {
    return check::ErrorOf<DispatchError>(Action);
}

// The smallest GIF there is, so pictures load instead of failing.
const std::string Gif("GIF89a\x01\x00\x01\x00\x00\x00\x00,\x00\x00\x00\x00\x01\x00\x01\x00\x00\x02"
                      "\x00;",
                      26);

void Page(httplib::Server& S, const std::string& Path, const std::string& Html,
          const std::string& Type = "text/html; charset=utf-8") {
    S.Get(Path, [Html, Type](const httplib::Request&, httplib::Response& R) {
        R.set_content(Html, Type);
    });
}

// Processes of the group that are still running (not zombies waiting for
// init); the kill signal takes a moment to arrive.
int LiveMembersOfGroup(pid_t Group) {
    int live = 0;
    check::WaitFor(
        [&] {
            live = 0;
            for (const check::GroupMember& member : check::MembersOfGroup(Group))
                live += member.State != 'Z';
            return live == 0;
        },
        std::chrono::seconds(2), std::chrono::milliseconds(10));
    return live;
}

class DevToolsTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        Other = std::make_unique<LocalServer>([](httplib::Server& S) {
            Page(S, "/cross.htm",
                 "<title>Elsewhere</title><p>another origin</p><a href=\"far.htm\">Far</a>"
                 "<img src=\"/pic.gif\"><iframe src=\"/inner.htm\"></iframe>");
            Page(S, "/inner.htm", "<title>Inner</title><p>inside the other origin</p>");
            Page(S, "/pic.gif", Gif, "image/gif");
        });
        // 127.0.0.1 on another port: another origin of the same site, so
        // the same process. localhost: another site, so another process.
        const std::string crossUrl = Other->Url("/cross.htm");
        const std::string otherSiteUrl =
            "http://localhost:" + std::to_string(Other->Port()) + "/cross.htm";
        Site = std::make_unique<LocalServer>([crossUrl, otherSiteUrl](httplib::Server& S) {
            Page(S, "/index.htm",
                 "<!DOCTYPE html><html><head><title> Test page </title></head><body>"
                 "<p id=\"words\">Some chosen words here</p>"
                 "<a href=\"a.htm\">First link</a> <a href=\"/sub/b.htm?x=1\">Second <b>one</b></a>"
                 "<img src=\"pic.gif\"><img src=\"/img/two.gif\">"
                 "<iframe src=\"left.htm\"></iframe><iframe src=\"right.htm\"></iframe>"
                 "<iframe src=\"" +
                     crossUrl + "\"></iframe><iframe src=\"" + otherSiteUrl +
                     "\"></iframe></body></html>");
            Page(S, "/left.htm", "<title>Left</title><img src=\"pic.gif\">");
            Page(S, "/right.htm", "<title>Right</title><p>right</p>");
            // "Привет" in windows-1251, declared only in the markup.
            Page(S, "/cyrillic.htm",
                 "<html><head><meta charset=\"windows-1251\">"
                 "<title>\xCF\xF0\xE8\xE2\xE5\xF2</title></head></html>",
                 "text/html");
            for (const char* picture : {"/pic.gif", "/img/two.gif"})
                Page(S, picture, Gif, "image/gif");
        });
        Browser = std::make_unique<DevToolsBrowser>();
    }
    void SetUp() override { ASSERT_NE(Browser, nullptr) << "the browser did not start"; }
    static void TearDownTestSuite() {
        Browser.reset();
        Site.reset();
        Other.reset();
    }

    static inline std::unique_ptr<LocalServer> Other, Site;
    static inline std::unique_ptr<DevToolsBrowser> Browser;
};

// The chains the program reads, on a page with links, pictures, a selection
// and three frames, the last from another origin.
TEST_F(DevToolsTest, PageAndFrameChains) {
    const Variant w = Browser->Open(Site->Url("/index.htm"));
    EXPECT_EQ(w.ToObject()->ClassName(), "Window");
    Browser->Evaluate(w, "{ const r = document.createRange();"
                         " const t = document.getElementById('words').firstChild;"
                         " r.setStart(t, 5); r.setEnd(t, 17);"
                         " getSelection().removeAllRanges(); getSelection().addRange(r); }");

    const Variant d = w.Get("parent").Get("document");
    EXPECT_EQ(d.ToObject()->ClassName(), "HTMLDocument");
    EXPECT_EQ(d.Get("Url").ToText(), Site->Url("/index.htm"));
    EXPECT_EQ(d.Get("URL").ToText(), Site->Url("/index.htm"));
    EXPECT_EQ(d.Get("Title").ToText(), "Test page");
    EXPECT_EQ(d.Get("location").ToText(), Site->Url("/index.htm"));
    EXPECT_EQ(w.Get("document").Get("selection").Get("createRange").Get("text").ToText(),
              "chosen words");

    const Variant links = d.Get("Links");
    ASSERT_EQ(links.Get("Length").ToInteger(), 2);
    EXPECT_EQ(links.Call("Item", {0}).Get("href").ToText(), Site->Url("/a.htm"));
    EXPECT_EQ(links.Call("Item", {0}).Get("innerText").ToText(), "First link");
    EXPECT_EQ(links.Call("item", {1}).Get("href").ToText(), Site->Url("/sub/b.htm?x=1"));
    EXPECT_EQ(links.Call("item", {1}).Get("InnerText").ToText(), "Second one");

    const Variant images = d.Get("Images");
    ASSERT_EQ(images.Get("Length").ToInteger(), 2);
    EXPECT_EQ(images.Call("Item", {1}).Get("src").ToText(), Site->Url("/img/two.gif"));

    const Variant all = d.Get("All");
    EXPECT_FALSE(all.IsEmpty() || all.IsNull()); // document.all pretends to be undefined
    EXPECT_GT(all.Get("Length").ToInteger(), 10);
    const Variant root = all.Call("Item", {0, 0});
    EXPECT_EQ(root.Get("tagName").ToText(), "HTML");
    EXPECT_THAT(root.Get("outerHTML").ToText(),
                AllOf(StartsWith("<html"), HasSubstr("Second <b>one</b>")));
    EXPECT_EQ(d.Get("characterSet").ToText(), "UTF-8");

    // The link picker's reading of the same window.
    const PageLinks listed = CollectPageLinks(w);
    EXPECT_EQ(listed.Title, "Test page");
    EXPECT_EQ(listed.Selection, "chosen words");
    ASSERT_EQ(listed.Rows.size(), 2u);
    EXPECT_EQ(listed.Rows[1].Text, "Second one");

    const Variant frames = w.Get("parent").Get("frames");
    ASSERT_EQ(frames.Get("Length").ToInteger(), 4);
    const char* names[] = {"left", "right"};
    for (int i = 0; i < 2; ++i) {
        const std::string url = Site->Url("/" + std::string(names[i]) + ".htm");
        const Variant f = frames.Call(i == 0 ? "item" : "Item", {i});
        EXPECT_EQ(f.Get("location").ToText(), url);
        EXPECT_EQ(f.Get("DOCUMENT").Get("URL").ToText(), url);
        EXPECT_EQ(f.Get("document").Get("Title").ToText(), i == 0 ? "Left" : "Right");
    }
    const Variant left = frames.Call("Item", {0}).Get("document");
    EXPECT_EQ(left.Get("Images").Call("Item", {0}).Get("src").ToText(), Site->Url("/pic.gif"));
    EXPECT_EQ(left.Get("All").Call("Item", {0, 0}).Get("tagName").ToText(), "HTML");

    EXPECT_THAT(ErrorOf([&] { (void)frames.Call("Item", {4}); }),
                HasSubstr("'Item' of object 'Window' index 4 is out of range (0 to 3)"));

    // Frames of another origin read as any frame: in the same process, and
    // in a process of their own (another site).
    const std::string crossUrls[] = {Other->Url("/cross.htm"),
                                     "http://localhost:" + std::to_string(Other->Port()) +
                                         "/cross.htm"};
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(crossUrls[i]);
        const Variant cross = frames.Call("Item", {2 + i});
        EXPECT_EQ(cross.Get("location").ToText(), crossUrls[i]);
        const Variant doc = cross.Get("DOCUMENT");
        EXPECT_EQ(doc.Get("Title").ToText(), "Elsewhere");
        EXPECT_EQ(doc.Get("URL").ToText(), crossUrls[i]);
        EXPECT_EQ(doc.Get("links").Call("Item", {0}).Get("href").ToText(),
                  crossUrls[i].substr(0, crossUrls[i].rfind('/')) + "/far.htm");
        EXPECT_EQ(doc.Get("Images").Get("Length").ToInteger(), 1);
        EXPECT_THAT(doc.Get("All").Call("Item", {0, 0}).Get("outerHTML").ToText(),
                    HasSubstr("another origin"));
        // Its parent is the top page again, readable from there.
        EXPECT_EQ(cross.Get("parent").Get("document").Get("Title").ToText(), "Test page");
        // And a frame of its own, reached through it.
        const Variant inner = cross.Get("frames").Call("Item", {0});
        EXPECT_EQ(inner.Get("document").Get("Title").ToText(), "Inner");
        EXPECT_EQ(inner.Get("parent").Get("document").Get("Title").ToText(), "Elsewhere");
        EXPECT_EQ(inner.Get("parent").Get("parent").Get("document").Get("Title").ToText(),
                  "Test page");
    }

    // Misuse names the member.
    EXPECT_EQ(ErrorOf([&] { (void)d.Get("NoSuchThing"); }),
              "Object 'HTMLDocument' has no member 'NoSuchThing'");
    EXPECT_EQ(ErrorOf([&] { d.Put("Bogus", 1); }), "Object 'HTMLDocument' has no member 'Bogus'");
    EXPECT_EQ(ErrorOf([&] { d.Put("URL", "x"); }),
              "Member 'URL' of object 'HTMLDocument' cannot be written");
    EXPECT_THAT(ErrorOf([&] { (void)d.ToObject()->DefaultValue(); }),
                HasSubstr("'HTMLDocument' has no default value"));
}

// What the download list and the writing of the pages read of a window: the
// page, its pictures and root markup, and the same of every frame (or the
// failure reading it).
std::vector<std::string> Readings(const Variant& W) {
    std::vector<std::string> read;
    const auto document = [&](const Variant& D) {
        for (const char* name : {"Url", "URL", "Title", "characterSet", "compatMode"})
            read.push_back(D.Get(name).ToText());
        read.push_back(D.Get("location").ToText());
        const Variant images = D.Get("Images");
        for (std::int64_t i = 0; i < images.Get("Length").ToInteger(); ++i)
            read.push_back(images.Call("Item", {i}).Get("src").ToText());
        const Variant all = D.Get("All");
        read.push_back(all.Call("Item", {0, 0}).Get("outerHTML").ToText());
        read.push_back(D.Get("links").Get("Length").ToText());
    };
    document(W.Get("parent").Get("document"));
    const Variant frames = W.Get("parent").Get("frames");
    for (std::int64_t i = 0; i < frames.Get("Length").ToInteger(); ++i) {
        const Variant frame = frames.Call("Item", {i});
        read.push_back(frame.Get("location").ToText());
        try {
            document(frame.Get("document"));
        } catch (const DispatchError& e) {
            read.push_back(e.what());
        }
    }
    return read;
}

// The window Open hands out answers from a snapshot of each frame exactly as
// the page answers call by call, and reads the link list in one round trip.
TEST_F(DevToolsTest, SnapshotAnswersAsThePageDoes) {
    const Variant w = Browser->Open(Site->Url("/index.htm"));
    Browser->Evaluate(w, "{ const r = document.createRange();"
                         " r.selectNodeContents(document.getElementById('words'));"
                         " getSelection().removeAllRanges(); getSelection().addRange(r); }");
    const Variant live(LiveObjectOf(w.ToObject()));
    ASSERT_NE(live.ToObject(), w.ToObject());

    const std::uint64_t before = Browser->CommandsSent();
    const PageLinks fromSnapshot = CollectPageLinks(w);
    // The snapshot, and before it the answerer put into the page's context.
    EXPECT_LE(Browser->CommandsSent() - before, 2u);
    const PageLinks fromPage = CollectPageLinks(live);
    EXPECT_GT(Browser->CommandsSent() - before, 10u);
    EXPECT_EQ(fromSnapshot.URL, fromPage.URL);
    EXPECT_EQ(fromSnapshot.Title, fromPage.Title);
    EXPECT_EQ(fromSnapshot.Selection, "Some chosen words here");
    EXPECT_EQ(fromSnapshot.Selection, fromPage.Selection);
    ASSERT_EQ(fromSnapshot.Rows.size(), fromPage.Rows.size());
    for (std::size_t i = 0; i < fromPage.Rows.size(); ++i) {
        EXPECT_EQ(fromSnapshot.Rows[i].Address, fromPage.Rows[i].Address);
        EXPECT_EQ(fromSnapshot.Rows[i].Text, fromPage.Rows[i].Text);
        EXPECT_EQ(fromSnapshot.Rows[i].Checked, fromPage.Rows[i].Checked);
    }

    // Frames too, those of another origin and another process among them.
    const std::vector<std::string> snapshotReadings = Readings(w);
    const std::vector<std::string> pageReadings = Readings(live);
    EXPECT_EQ(snapshotReadings, pageReadings);
    EXPECT_GT(snapshotReadings.size(), 40u);

    // Another page's window, whose frame is not reached, still answers.
    const Variant cyrillic = Browser->Open(Site->Url("/cyrillic.htm"));
    EXPECT_EQ(Readings(cyrillic), Readings(Variant(LiveObjectOf(cyrillic.ToObject()))));
}

// The rules the extension's bridge keeps too (its end-to-end test runs the
// same checks): in the top page, with a selection, and in frames answered
// in a world of our own and in another site's process.
TEST_F(DevToolsTest, BridgeRules) {
    const Variant w = Browser->Open(Site->Url("/index.htm"));
    Browser->Evaluate(w, "{ const r = document.createRange();"
                         " r.selectNodeContents(document.getElementById('words'));"
                         " getSelection().removeAllRanges(); getSelection().addRange(r); }");
    ASSERT_EQ(w.Get("document").Get("selection").Get("createRange").Get("text").ToText(),
              "Some chosen words here");
    EXPECT_THAT(check::CheckBridgeRules(w), IsEmpty());
    for (int i : {0, 3}) {
        SCOPED_TRACE(i);
        EXPECT_THAT(check::CheckBridgeRules(w.Get("frames").Call("item", {i})), IsEmpty());
    }
}

TEST_F(DevToolsTest, LoadingNavigationAndFailures) {
    // The character set the page declares in its markup.
    const Variant d = Browser->Open(Site->Url("/cyrillic.htm")).Get("document");
    EXPECT_EQ(d.Get("characterSet").ToText(), "windows-1251");
    EXPECT_EQ(d.Get("title").ToText(), "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82");

    // Writing the location navigates the tab.
    const Variant w = Browser->Open(Site->Url("/left.htm"));
    w.Get("document").Get("location").Put("href", Site->Url("/right.htm"));
    std::string title;
    check::WaitFor(
        [&] {
            title = Browser->Evaluate(w, "document.readyState == 'complete' ? document.title : ''")
                        .ToText();
            return title == "Right";
        },
        std::chrono::seconds(5), std::chrono::milliseconds(10));
    EXPECT_EQ(title, "Right");

    // Pages that do not load are errors naming the address and the reason.
    const std::string refused = "http://127.0.0.1:" + std::to_string(check::UnusedPort()) + "/";
    EXPECT_EQ(ErrorOf([&] { Browser->Open(refused); }),
              "Cannot open " + refused + ": net::ERR_CONNECTION_REFUSED");
    // An error answer is not the page, after redirects too.
    EXPECT_EQ(ErrorOf([&] { Browser->Open(Site->Url("/status/404")); }),
              "Cannot open " + Site->Url("/status/404") + ": the page answered HTTP 404 Not Found");
    const std::string redirected = Site->Url("/redirect?to=" + Site->Url("/status/500"));
    EXPECT_EQ(ErrorOf([&] { Browser->Open(redirected); }),
              "Cannot open " + redirected + ": the page answered HTTP 500 Internal Server Error");
    EXPECT_EQ(Browser->Open(Site->Url("/redirect?to=" + Site->Url("/plain")))
                  .Get("document")
                  .Get("URL")
                  .ToText(),
              Site->Url("/plain"));
    const std::string stalled = Site->Url("/stall");
    EXPECT_EQ(ErrorOf([&] { Browser->Open(stalled, std::chrono::milliseconds(500)); }),
              "Cannot open " + stalled + ": the page did not finish loading within 500 ms");
}

TEST(DevToolsBrowserProcess, StartFailuresAndShutdown) {
    const auto start = [](const std::string& Path) {
        DevToolsBrowser::Options options;
        options.ChromiumPath = Path;
        return ErrorOf([&] { DevToolsBrowser b(options); });
    };
    EXPECT_EQ(start("/nonexistent/chromium"),
              "Cannot start the browser /nonexistent/chromium: No such file or directory");
    EXPECT_EQ(start("/"), "Cannot start the browser /: Permission denied");
    EXPECT_THAT(start("/bin/true"),
                StartsWith("Cannot start the browser /bin/true: it exited with status 0"));

    // Nothing of the browser remains after destruction.
    pid_t pid = 0;
    Variant window;
    {
        LocalServer site;
        DevToolsBrowser browser;
        pid = browser.ProcessId();
        ASSERT_GT(pid, 0);
        window = browser.Open(site.Url("/plain"));
        EXPECT_EQ(::kill(pid, 0), 0);
        // Lowered for the whole group, the page's process included.
        // (getpriority of a group gives its member of the highest priority.)
        if (::getpriority(PRIO_PROCESS, static_cast<id_t>(pid)) < 19) {
            browser.LowerPriority();
            EXPECT_EQ(::getpriority(PRIO_PGRP, static_cast<id_t>(pid)), 19);
        }
        // Closing from another thread first; the destructor then has nothing left to do.
        std::thread([&] { browser.Close(); }).join();
        EXPECT_FALSE(browser.IsOpen());
    }
    EXPECT_EQ(::kill(pid, 0), -1);
    EXPECT_EQ(errno, ESRCH);
    EXPECT_EQ(LiveMembersOfGroup(pid), 0); // nor any helper process of its group
    EXPECT_THAT(ErrorOf([&] { (void)window.Get("document"); }),
                AllOf(HasSubstr("'document'"), HasSubstr("the browser was closed")));
}

} // namespace
