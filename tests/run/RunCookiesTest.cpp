// The browser's cookies in a run: asked for once for the list's hosts,
// carried by every request they fit, pictures found on the way included.
#include "run/RunFixture.h"

#include <gmock/gmock.h>

using namespace larkspool;
using namespace larkspool::check;
using ::testing::UnorderedElementsAre;

namespace {

class RunCookiesTest : public DownloadRunTest {
protected:
    // The Cookie header each request for Path carried ("" for none).
    std::vector<std::string> CookiesSentTo(const std::string& Path) const {
        std::vector<std::string> sent;
        for (const auto& r : Web.Seen())
            if (r.Target == Path) {
                const auto it = r.Headers.find("Cookie");
                sent.push_back(it == r.Headers.end() ? "" : it->second);
            }
        return sent;
    }
    // The other name of the test server: a second host of the same site.
    std::string OtherHostUrl(const std::string& Path) const {
        return "http://localhost:" + std::to_string(Web.Port()) + Path;
    }

    std::vector<std::vector<std::string>> Asked; // hosts of each question
    std::function<std::vector<BrowserCookie>(const std::vector<std::string>&)> Browser =
        [this](const std::vector<std::string>& Hosts) {
            Asked.push_back(Hosts);
            return std::vector<BrowserCookie>{
                {"127.0.0.1", false, "/", false, true, 0, "sid", "abc"},
                {"127.0.0.1", false, "/img", false, false, 0, "pics", "1"},
                {"localhost", false, "/", false, false, 0, "other", "2"},
                // Not for these hosts, and a value that would break the jar.
                {"example.org", true, "/", false, false, 0, "stray", "x"},
                {"127.0.0.1", false, "/", false, false, 0, "bad", "v\n127.0.0.1\tFALSE"},
            };
        };
};

TEST_F(RunCookiesTest, TheBrowsersCookiesGoWhereTheyFit) {
    Prepare = [this](DownloadRun& Run) { Run.SetCookieSource(Browser); };
    Page.Html += "<a href=\"" + OtherHostUrl("/b.php") + "\">b elsewhere</a>";
    Save({"/a.htm", "/b.php", OtherHostUrl("/b.php")});
    // One question, for both hosts of the list, before the first request.
    ASSERT_EQ(Asked.size(), 1u);
    EXPECT_THAT(Asked[0], UnorderedElementsAre("127.0.0.1", "localhost"));
    EXPECT_THAT(CookiesSentTo("/a.htm"), ::testing::Each("sid=abc"));
    // Found on a.htm while the run went on, and under /img: both cookies.
    ASSERT_EQ(CookiesSentTo("/img/p.png").size(), 1u);
    EXPECT_THAT(CookiesSentTo("/img/p.png")[0], ::testing::HasSubstr("pics=1"));
    EXPECT_THAT(CookiesSentTo("/img/p.png")[0], ::testing::HasSubstr("sid=abc"));
    // The same server under its other name gets that name's cookies only.
    EXPECT_THAT(CookiesSentTo("/b.php"), UnorderedElementsAre("sid=abc", "other=2"));
    EXPECT_TRUE(Seen.Problems.empty());
}

TEST_F(RunCookiesTest, NoCookiesFlagKeepsTheBrowserOutOfIt) {
    Prepare = [this](DownloadRun& Run) {
        Run.SetCookieSource(Browser);
        Run.AdvHttp.SetInternetFlags(Run.AdvHttp.InternetFlags() | FlagSet({ifNoCookies}));
    };
    Save({"/a.htm"});
    EXPECT_TRUE(Asked.empty());
    EXPECT_THAT(CookiesSentTo("/a.htm"), ::testing::Each(""));
}

// A browser that cannot say is told once; the save goes on without cookies.
TEST_F(RunCookiesTest, ABrowserThatCannotAnswerIsReportedOnce) {
    int questions = 0;
    Prepare = [&](DownloadRun& Run) {
        Run.SetCookieSource([&](const std::vector<std::string>&) -> std::vector<BrowserCookie> {
            ++questions;
            throw std::runtime_error("the extension did not answer");
        });
    };
    Page.Html += "<a href=\"" + OtherHostUrl("/b.php") + "\">b elsewhere</a>";
    Save({"/a.htm", OtherHostUrl("/b.php")});
    EXPECT_EQ(questions, 1);
    ASSERT_EQ(Seen.Problems.size(), 1u) << ::testing::PrintToString(Seen.Problems);
    EXPECT_THAT(Seen.Problems[0], ::testing::HasSubstr("the extension did not answer"));
    EXPECT_EQ(Read("a.htm").empty(), false);
    EXPECT_THAT(CookiesSentTo("/a.htm"), ::testing::Each(""));
}

} // namespace
