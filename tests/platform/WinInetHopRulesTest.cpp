// The decisions a hop makes before libcurl sees it: verb, header lines,
// timeout, credentials, redirects, and the addresses they lead to.

#include "platform/wininet/HopRules.h"
#include "platform/wininet/RequestUrl.h"
#include "platform/wininet/UrlParts.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace larkspool::wininet {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

TEST(HopVerb, HeadNeverSendsABodyAndPostAlwaysDoes) {
    VerbUse head = UseOfVerb("HEAD", true);
    EXPECT_TRUE(head.NoBody);
    EXPECT_FALSE(head.SendsBody);
    EXPECT_FALSE(head.NamedVerb);

    VerbUse post = UseOfVerb("POST", false);
    EXPECT_FALSE(post.NoBody);
    EXPECT_TRUE(post.SendsBody);
    EXPECT_FALSE(post.NamedVerb);
}

TEST(HopVerb, ABodyGoesWithAnyVerbUnderItsOwnName) {
    VerbUse get = UseOfVerb("GET", true);
    EXPECT_TRUE(get.SendsBody);
    EXPECT_TRUE(get.NamedVerb);
    VerbUse put = UseOfVerb("PUT", true);
    EXPECT_TRUE(put.SendsBody);
    EXPECT_TRUE(put.NamedVerb);
}

TEST(HopVerb, WithoutABodyOnlyVerbsOtherThanGetAreNamed) {
    VerbUse get = UseOfVerb("GET", false);
    EXPECT_FALSE(get.NoBody);
    EXPECT_FALSE(get.SendsBody);
    EXPECT_FALSE(get.NamedVerb);
    VerbUse options = UseOfVerb("OPTIONS", false);
    EXPECT_FALSE(options.SendsBody);
    EXPECT_TRUE(options.NamedVerb);
    // Verbs are taken as written, as WinInet sends them.
    EXPECT_TRUE(UseOfVerb("get", false).NamedVerb);
}

TEST(HopHeaders, FixedLinesComeFirstTrimmedAndWithoutEmptyOnes) {
    EXPECT_THAT(RequestHeaderLines("Accept: text/html\r\nReferer: http://a/\r\n",
                                   "  X-One: 1 \r\n\r\n\tX-Two: 2\nX-Three: 3", false),
                ElementsAre("Accept: text/html", "Referer: http://a/", "X-One: 1", "X-Two: 2",
                            "X-Three: 3"));
    EXPECT_THAT(RequestHeaderLines("", "\r\n \r\n", false), IsEmpty());
}

TEST(HopHeaders, ABodyKeepsLibcurlsContentTypeAndExpectAway) {
    EXPECT_THAT(RequestHeaderLines("", "X-One: 1\r\n", true),
                ElementsAre("X-One: 1", "Content-Type:", "Expect:"));
    EXPECT_THAT(RequestHeaderLines("", "", true), ElementsAre("Content-Type:", "Expect:"));
}

TEST(HopHeaders, TheCallersContentTypeStandsWhateverItsCase) {
    EXPECT_THAT(RequestHeaderLines("", "content-TYPE : text/plain\r\n", true),
                ElementsAre("content-TYPE : text/plain", "Expect:"));
    // In the fixed lines too; a value naming it is no such line.
    EXPECT_THAT(RequestHeaderLines("Content-Type: a/b\r\n", "", true),
                ElementsAre("Content-Type: a/b", "Expect:"));
    EXPECT_THAT(RequestHeaderLines("", "X-Note: Content-Type: a/b\r\n", true),
                ElementsAre("X-Note: Content-Type: a/b", "Content-Type:", "Expect:"));
}

TEST(HopTimeout, TheConnectionsOwnWinsAndZeroOrInfiniteMeanNone) {
    EXPECT_EQ(ConnectTimeoutMs(5000, 60000), 5000L);
    EXPECT_EQ(ConnectTimeoutMs(0, 60000), 60000L);
    EXPECT_EQ(ConnectTimeoutMs(0, 0), std::nullopt);
    EXPECT_EQ(ConnectTimeoutMs(0xffffffffu, 60000), std::nullopt);
    EXPECT_EQ(ConnectTimeoutMs(0, 0xffffffffu), std::nullopt);
}

TEST(HopCredentials, TheConnectionServerIsItsHostAndPortWithTheHopsDefault) {
    EXPECT_TRUE(IsConnectionServer("Example.COM", 8080, false, "example.com", 8080));
    EXPECT_FALSE(IsConnectionServer("example.com", 8081, false, "example.com", 8080));
    EXPECT_FALSE(IsConnectionServer("other.com", 8080, false, "example.com", 8080));
    // A connection without a port is on the default of the hop's scheme, so a
    // redirect from http to https on the same host stays with the server.
    EXPECT_TRUE(IsConnectionServer("example.com", 80, false, "example.com", 0));
    EXPECT_TRUE(IsConnectionServer("example.com", 443, true, "example.com", 0));
    EXPECT_FALSE(IsConnectionServer("example.com", 80, true, "example.com", 0));
}

TEST(HopCredentials, ServerCredentialsStayWithTheConnectionServer) {
    CredentialUse home = ChooseCredentials(0, true, "user", "");
    EXPECT_TRUE(home.Server);
    EXPECT_FALSE(home.Proxy);
    CredentialUse away = ChooseCredentials(0, false, "user", "proxy-user");
    EXPECT_FALSE(away.Server);
    EXPECT_TRUE(away.Proxy);
    CredentialUse none = ChooseCredentials(0, true, "", "");
    EXPECT_FALSE(none.Server);
    EXPECT_FALSE(none.Proxy);
}

TEST(HopCredentials, NoAuthSendsNone) {
    CredentialUse use = ChooseCredentials(INTERNET_FLAG_NO_AUTH, true, "user", "proxy-user");
    EXPECT_FALSE(use.Server);
    EXPECT_FALSE(use.Proxy);
}

TEST(HopCredentials, OnlyAChallengeWithCredentialsForItMayStillBeAnswered) {
    EXPECT_TRUE(MayBeAnswered(401, {true, false}));
    EXPECT_FALSE(MayBeAnswered(401, {false, true}));
    EXPECT_TRUE(MayBeAnswered(407, {false, true}));
    EXPECT_FALSE(MayBeAnswered(407, {true, false}));
    EXPECT_FALSE(MayBeAnswered(403, {true, true}));
    EXPECT_FALSE(MayBeAnswered(200, {true, true}));
}

std::string HeadWithLocation(const std::string& Location) {
    return "HTTP/1.1 302 Found\r\nContent-Length: 0\r\nlocation:  " + Location + " \r\n\r\n";
}

TEST(HopRedirect, ALocationIsResolvedAgainstTheHopsUrl) {
    auto plan =
        PlanRedirect(302, HeadWithLocation("../b c?q=1#part"), "http://h:8080/x/y/z", false, 0, 0);
    ASSERT_TRUE(plan);
    EXPECT_EQ(plan->Error, 0u);
    EXPECT_EQ(plan->Next.Text, "http://h:8080/x/b%20c?q=1");
    EXPECT_EQ(plan->Next.Scheme, "http");
    EXPECT_EQ(plan->Next.Host, "h");
    EXPECT_EQ(plan->Next.Port, 8080);
}

TEST(HopRedirect, EveryRedirectCodeIsFollowedAndNoOther) {
    for (long code : {301L, 302L, 303L, 307L, 308L})
        EXPECT_TRUE(PlanRedirect(code, HeadWithLocation("/n"), "http://h/", false, 0, 0)) << code;
    for (long code : {300L, 304L, 305L, 200L, 404L})
        EXPECT_FALSE(PlanRedirect(code, HeadWithLocation("/n"), "http://h/", false, 0, 0)) << code;
}

TEST(HopRedirect, TheResponseGoesToTheCallerWhenThereIsNowhereToGo) {
    EXPECT_FALSE(PlanRedirect(302, HeadWithLocation("/n"), "http://h/", false, 0,
                              INTERNET_FLAG_NO_AUTO_REDIRECT));
    EXPECT_FALSE(PlanRedirect(302, "HTTP/1.1 302 Found\r\nX: y\r\n\r\n", "http://h/", false, 0, 0));
    EXPECT_FALSE(
        PlanRedirect(302, "HTTP/1.1 302 Found\r\nLocation:\r\n\r\n", "http://h/", false, 0, 0));
    EXPECT_FALSE(PlanRedirect(302, HeadWithLocation("ftp://h/file"), "http://h/", false, 0, 0));
}

TEST(HopRedirect, TooManyHopsFailAtTheEleventh) {
    auto last = PlanRedirect(302, HeadWithLocation("/n"), "http://h/", false, MaxRedirects - 1, 0);
    ASSERT_TRUE(last);
    EXPECT_EQ(last->Error, 0u);
    auto over = PlanRedirect(302, HeadWithLocation("/n"), "http://h/", false, MaxRedirects, 0);
    ASSERT_TRUE(over);
    EXPECT_EQ(over->Error, ERROR_HTTP_REDIRECT_FAILED);
}

TEST(HopRedirect, ASchemeChangeNeedsItsFlag) {
    auto up = PlanRedirect(302, HeadWithLocation("https://h/"), "http://h/", false, 0, 0);
    ASSERT_TRUE(up);
    EXPECT_EQ(up->Error, ERROR_INTERNET_HTTP_TO_HTTPS_ON_REDIR);
    EXPECT_EQ(up->Next.Port, 443);
    up = PlanRedirect(302, HeadWithLocation("https://h/"), "http://h/", false, 0,
                      INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTPS);
    ASSERT_TRUE(up);
    EXPECT_EQ(up->Error, 0u);

    auto down = PlanRedirect(302, HeadWithLocation("HTTP://h/"), "https://h/", true, 0, 0);
    ASSERT_TRUE(down);
    EXPECT_EQ(down->Error, ERROR_INTERNET_HTTPS_TO_HTTP_ON_REDIR);
    EXPECT_EQ(down->Next.Scheme, "http");
    down = PlanRedirect(302, HeadWithLocation("http://h/"), "https://h/", true, 0,
                        INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTP);
    ASSERT_TRUE(down);
    EXPECT_EQ(down->Error, 0u);
    // The flag of the other direction does not help.
    down = PlanRedirect(302, HeadWithLocation("http://h/"), "https://h/", true, 0,
                        INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTPS);
    ASSERT_TRUE(down);
    EXPECT_EQ(down->Error, ERROR_INTERNET_HTTPS_TO_HTTP_ON_REDIR);
}

TEST(HopRedirect, SeeOtherAndAMovedPostBecomeAGet) {
    EXPECT_TRUE(RedirectBecomesGet(303, "POST"));
    EXPECT_TRUE(RedirectBecomesGet(303, "PUT"));
    EXPECT_FALSE(RedirectBecomesGet(303, "HEAD"));
    EXPECT_TRUE(RedirectBecomesGet(301, "POST"));
    EXPECT_TRUE(RedirectBecomesGet(302, "POST"));
    EXPECT_FALSE(RedirectBecomesGet(301, "PUT"));
    EXPECT_FALSE(RedirectBecomesGet(307, "POST"));
    EXPECT_FALSE(RedirectBecomesGet(308, "POST"));
}

TEST(HopUrl, TheFirstHopNamesItsPortAndEscapesTheObject) {
    EXPECT_EQ(FirstHopUrl(false, "example.com", 80, "/a b?q=\"x\"&r=%41"),
              "http://example.com:80/a%20b?q=%22x%22&r=%41");
    EXPECT_EQ(FirstHopUrl(true, "::1", 8443, "/"), "https://[::1]:8443/");
    EXPECT_EQ(FirstHopUrl(true, "[::1]", 8443, "/"), "https://[::1]:8443/");
    EXPECT_EQ(EscapeForUrl("\x01 \x7f\xc3\xa9{|}^`<>\\"),
              "%01%20%7F%C3%A9%7B%7C%7D%5E%60%3C%3E%5C");
}

TEST(HopUrl, PortZeroIsTheSchemesDefault) {
    EXPECT_EQ(PortOrDefault(0, false), 80);
    EXPECT_EQ(PortOrDefault(0, true), 443);
    EXPECT_EQ(PortOrDefault(8080, true), 8080);
    EXPECT_EQ(DefaultPort(INTERNET_SCHEME_FTP), 21);
    EXPECT_EQ(DefaultPort(INTERNET_SCHEME_FILE), 0);
}

TEST(HopUrl, ResolvingDropsCredentialsAndFragment) {
    auto next = ResolveUrl("http://h/a/", "HTTPS://u:p@Other:444/x#f");
    ASSERT_TRUE(next);
    EXPECT_EQ(next->Text, "https://Other:444/x");
    EXPECT_EQ(next->Scheme, "https");
    EXPECT_EQ(next->Host, "Other");
    EXPECT_EQ(next->Port, 444);
    EXPECT_FALSE(ResolveUrl("not a url", "/x"));
}

} // namespace
} // namespace larkspool::wininet
