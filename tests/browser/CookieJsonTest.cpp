#include "browser/CookieJson.h"

#include <gtest/gtest.h>

namespace larkspool {
namespace {

using nlohmann::json;

// The extension API's form says hostOnly; the DevTools form marks a domain
// cookie by its leading dot and a session cookie by expires -1.
TEST(CookieJsonTest, BothBrowserFormsRead) {
    const json extension = json::parse(R"([
        {"domain": ".Example.org", "hostOnly": false, "path": "/docs", "secure": true,
         "httpOnly": true, "session": false, "expirationDate": 1900000000.75,
         "name": "sid", "value": "v"},
        {"domain": "www.example.org", "hostOnly": true, "path": "/", "secure": false,
         "httpOnly": false, "session": true, "name": "s", "value": ""}])");
    EXPECT_EQ(CookiesFromJson(extension),
              (std::vector<BrowserCookie>{
                  {"example.org", true, "/docs", true, true, 1900000000, "sid", "v"},
                  {"www.example.org", false, "/", false, false, 0, "s", ""}}));

    const json devtools = json::parse(R"([
        {"name": "d", "value": "1", "domain": ".example.org", "path": "/", "expires": -1,
         "size": 2, "httpOnly": false, "secure": false, "session": true},
        {"name": "h", "value": "2", "domain": "127.0.0.1", "path": "/members",
         "expires": 1900000000, "httpOnly": true, "secure": false, "session": false}])");
    EXPECT_EQ(CookiesFromJson(devtools),
              (std::vector<BrowserCookie>{
                  {"example.org", true, "/", false, false, 0, "d", "1"},
                  {"127.0.0.1", false, "/members", false, true, 1900000000, "h", "2"}}));
}

TEST(CookieJsonTest, WhatIsNoUsableCookieIsLeftOut) {
    const json entries = json::parse(R"([
        "text", 12, null,
        {"domain": "example.org", "name": "", "value": "v"},
        {"domain": "example.org", "name": "n", "value": "a\nb"},
        {"domain": 5, "name": "n", "value": "v"},
        {"domain": "example.org", "name": "n", "value": "v", "expires": 1e300},
        {"domain": "example.org", "name": "n", "value": "v", "path": 7}])");
    const std::vector<BrowserCookie> read = CookiesFromJson(entries);
    ASSERT_EQ(read.size(), 2u);
    EXPECT_EQ(read[0].Expires, 0); // an expiry out of range reads as the session's
    EXPECT_EQ(read[1].Path, "/");
    EXPECT_TRUE(CookiesFromJson(json::object()).empty());
}

// Setting a cookie for one host only needs its address in the protocol.
TEST(CookieJsonTest, ParamsForTheBrowser) {
    EXPECT_EQ(CookieParam({"example.org", true, "/", true, true, 1900000000, "sid", "v"}),
              json::parse(R"({"name": "sid", "value": "v", "path": "/", "secure": true,
                              "httpOnly": true, "domain": ".example.org",
                              "expires": 1900000000})"));
    EXPECT_EQ(CookieParam({"127.0.0.1", false, "/members", false, false, 0, "h", "2"}),
              json::parse(R"({"name": "h", "value": "2", "path": "/members", "secure": false,
                              "httpOnly": false, "url": "http://127.0.0.1/members"})"));
}

} // namespace
} // namespace larkspool
