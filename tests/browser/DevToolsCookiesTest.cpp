// The browser's cookie store over the DevTools protocol, against headless
// Chromium: what larkspool-save puts there from a cookies file goes out with
// the page's requests, and what pages set comes back for the run.
#include "browser/DevToolsBrowser.h"

#include "support/LocalServer.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>

using namespace larkspool;
using larkspool::check::LocalServer;
using ::testing::HasSubstr;

namespace {

TEST(DevToolsCookiesTest, TheStoreTakesAFilesCookiesAndGivesBackThePagesToo) {
    LocalServer site([](httplib::Server& S) {
        S.Get("/set", [](const httplib::Request&, httplib::Response& R) {
            R.set_header("Set-Cookie", "fromPage=1; Path=/; HttpOnly");
            R.set_content("<title>set</title>", "text/html");
        });
        S.Get("/echo", [](const httplib::Request& Q, httplib::Response& R) {
            R.set_content("<title>echo</title><pre>" + Q.get_header_value("Cookie") + "</pre>",
                          "text/html");
        });
    });
    // Within the 400 days browsers let a cookie live.
    const std::int64_t inAMonth = std::time(nullptr) + 30 * 86400;
    DevToolsBrowser browser;
    browser.SetCookies({
        {"127.0.0.1", false, "/", false, true, 0, "fromFile", "a"},
        {"127.0.0.1", false, "/elsewhere", false, false, 0, "notHere", "b"},
        {"example.test", true, "/", true, false, inAMonth, "domainWide", "c"},
        {"127.0.0.1", false, "/", false, false, 0, "broken", "x\ny"}, // left out
    });
    browser.Open(site.Url("/set"));
    const Variant page = browser.Open(site.Url("/echo"));
    const std::string sent = page.Get("document").Get("body").Get("innerText").ToText();
    EXPECT_THAT(sent, HasSubstr("fromFile=a"));
    EXPECT_THAT(sent, HasSubstr("fromPage=1"));
    EXPECT_THAT(sent, ::testing::Not(HasSubstr("notHere")));

    const std::vector<BrowserCookie> stored = browser.Cookies();
    const auto find = [&](const std::string& Name) {
        const auto it = std::find_if(stored.begin(), stored.end(),
                                     [&](const BrowserCookie& c) { return c.Name == Name; });
        return it == stored.end() ? BrowserCookie{} : *it;
    };
    EXPECT_EQ(find("fromFile"),
              (BrowserCookie{"127.0.0.1", false, "/", false, true, 0, "fromFile", "a"}));
    EXPECT_EQ(find("fromPage"),
              (BrowserCookie{"127.0.0.1", false, "/", false, true, 0, "fromPage", "1"}));
    EXPECT_EQ(find("domainWide"),
              (BrowserCookie{"example.test", true, "/", true, false, inAMonth, "domainWide", "c"}));
    EXPECT_EQ(find("broken").Name, "");
    browser.Close();
}

} // namespace
