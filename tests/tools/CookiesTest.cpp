#include "tools/Cookies.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

namespace larkspool {
namespace {

using ::testing::HasSubstr;

constexpr std::int64_t Now = 1'800'000'000;

std::string ErrorOf(std::string_view Text) {
    try {
        ParseCookiesText(Text, Now);
    } catch (const CookieFileError& e) {
        return e.what();
    }
    return {};
}

// What curl -c and wget --save-cookies write, with a Windows line end and
// an HttpOnly cookie; expired cookies are left out, session ones kept.
TEST(CookiesFileTest, ReadsWhatOtherToolsWrite) {
    const auto cookies = ParseCookiesText("# Netscape HTTP Cookie File\n"
                                          "# https://curl.se/docs/http-cookies.html\n"
                                          "\n"
                                          ".Example.org\tTRUE\t/\tTRUE\t1900000000\tsid\ta=b c\r\n"
                                          "#HttpOnly_www.example.org\tFALSE\t/app\tfalse\t0\th\t\n"
                                          "old.example.org\tFALSE\t/\tFALSE\t1700000000\tgone\tx\n",
                                          Now);
    ASSERT_EQ(cookies.size(), 2u);
    EXPECT_EQ(cookies[0],
              (BrowserCookie{"example.org", true, "/", true, false, 1900000000, "sid", "a=b c"}));
    EXPECT_EQ(cookies[1],
              (BrowserCookie{"www.example.org", false, "/app", false, true, 0, "h", ""}));
}

TEST(CookiesFileTest, ALineThatIsNoCookieIsNamed) {
    EXPECT_THAT(ErrorOf("# c\nexample.org\tFALSE\t/\tFALSE\t0\tname\n"),
                HasSubstr("line 2 is not a cookie: it has 6 fields"));
    EXPECT_THAT(ErrorOf("example.org\tyes\t/\tFALSE\t0\tn\tv\n"), HasSubstr("line 1"));
    EXPECT_THAT(ErrorOf("example.org\tFALSE\t/\tFALSE\tsoon\tn\tv\n"), HasSubstr("expiry"));
    EXPECT_THAT(ErrorOf("example.org\tFALSE\t/\tFALSE\t-5\tn\tv\n"), HasSubstr("expiry"));
    EXPECT_THAT(ErrorOf("\tFALSE\t/\tFALSE\t0\tn\tv\n"), HasSubstr("no domain"));
    EXPECT_THAT(ErrorOf("example.org\tFALSE\t/\tFALSE\t0\tn\tv\x01x\n"),
                HasSubstr("control character"));
    EXPECT_EQ(ErrorOf("   \n#only comments\n"), "");
}

TEST(CookiesFileTest, AMissingFileIsNamed) {
    EXPECT_THROW(ReadCookiesFile("/nonexistent/cookies.txt", Now), CookieFileError);
    const auto path = std::filesystem::temp_directory_path() / "larkspool-cookies-test.txt";
    std::ofstream(path) << "example.org\tFALSE\t/\tFALSE\t0\tn\n";
    try {
        ReadCookiesFile(path.string(), Now);
        ADD_FAILURE() << "a damaged file was read";
    } catch (const CookieFileError& e) {
        EXPECT_THAT(e.what(), HasSubstr(path.string()));
        EXPECT_THAT(e.what(), HasSubstr("line 1"));
    }
    std::filesystem::remove(path);
}

// A line written is read back as the same cookie, and libcurl's form of an
// HttpOnly cookie is kept.
TEST(CookiesFileTest, LinesRoundTrip) {
    const BrowserCookie cookies[] = {
        {"example.org", true, "/docs", true, true, 1900000000, "sid", "v=1"},
        {"127.0.0.1", false, "/", false, false, 0, "n", ""},
    };
    EXPECT_EQ(CookieLine(cookies[0]),
              "#HttpOnly_.example.org\tTRUE\t/docs\tTRUE\t1900000000\tsid\tv=1");
    for (const BrowserCookie& cookie : cookies) {
        const auto back = ParseCookiesText(CookieLine(cookie), Now);
        ASSERT_EQ(back.size(), 1u);
        EXPECT_EQ(back[0], cookie);
    }
}

// A hostile page's cookie must not smuggle another line or header field into
// the jar.
TEST(CookiesFileTest, UnusableFieldsAreRefused) {
    const BrowserCookie good{"example.org", false, "/", false, false, 0, "n", "v"};
    EXPECT_TRUE(IsUsableCookie(good));
    for (auto spoil : std::initializer_list<void (*)(BrowserCookie&)>{
             [](BrowserCookie& c) { c.Value = "v\nexample.org\tFALSE\t/\tFALSE\t0\tx\ty"; },
             [](BrowserCookie& c) { c.Value = "a;b"; },
             [](BrowserCookie& c) { c.Name = "a=b"; },
             [](BrowserCookie& c) { c.Name.clear(); },
             [](BrowserCookie& c) { c.Domain = "a b"; },
             [](BrowserCookie& c) { c.Path = "/\t"; },
         }) {
        BrowserCookie cookie = good;
        spoil(cookie);
        EXPECT_FALSE(IsUsableCookie(cookie)) << CookieLine(cookie);
    }
}

TEST(CookieHostsTest, DomainsMatchTheirOwnHostAndBelowOnly) {
    const BrowserCookie domain{"example.org", true, "/", false, false, 0, "d", "1"};
    const BrowserCookie host{"example.org", false, "/", false, false, 0, "h", "1"};
    EXPECT_TRUE(CookieFitsHost(domain, "example.org"));
    EXPECT_TRUE(CookieFitsHost(domain, "WWW.Example.ORG"));
    EXPECT_FALSE(CookieFitsHost(domain, "badexample.org"));
    EXPECT_FALSE(CookieFitsHost(domain, "example.org.evil.test"));
    EXPECT_TRUE(CookieFitsHost(host, "example.org"));
    EXPECT_FALSE(CookieFitsHost(host, "www.example.org"));

    const BrowserCookie unusable{"example.org", false, "/", false, false, 0, "x", "a;b"};
    EXPECT_EQ(CookiesForHosts({domain, host, unusable}, {"www.example.org", "other.test"}),
              std::vector<BrowserCookie>{domain});
    EXPECT_TRUE(CookiesForHosts({domain, host}, {}).empty());
}

TEST(CookieHostsTest, HostOfAnAddress) {
    EXPECT_EQ(CookieHostOf("http://Example.ORG/a"), "example.org");
    EXPECT_EQ(CookieHostOf("https://user:p@ss@www.example.org:8443/x?y#z"), "www.example.org");
    EXPECT_EQ(CookieHostOf("http://[::1]:8080/"), "[::1]");
    EXPECT_EQ(CookieHostOf("http://127.0.0.1?q"), "127.0.0.1");
    EXPECT_EQ(CookieHostOf("mailto:someone@example.org"), "");
}

} // namespace
} // namespace larkspool
