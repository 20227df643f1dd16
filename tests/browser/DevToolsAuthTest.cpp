// Pages behind HTTP authentication in a real headless Chromium: the
// credentials given to the browser answer the challenges of the page and its
// frames once, a refusal or a missing password fails the load saying so, and
// the password never shows on a process's command line.

#include "browser/DevToolsBrowser.h"
#include "support/ErrorOf.h"
#include "support/LocalServer.h"
#include "support/ProcessGroup.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

using namespace larkspool;
using larkspool::check::LocalServer;
using ::testing::HasSubstr;
using ::testing::Not;

namespace {

template <typename F> std::string ErrorOf(F Action) {
    return check::ErrorOf<DispatchError>(Action);
}

// Long enough never to be reached on a loaded machine: a load that hangs
// fails with "did not finish loading" instead of the message expected.
constexpr std::chrono::seconds Limit(20);

// "user:secret" (LocalServer's) and "other:word", as Basic sends them.
constexpr const char* UserSecret = "Basic dXNlcjpzZWNyZXQ=";
constexpr const char* OtherWord = "Basic b3RoZXI6d29yZA==";

// Path answers Html to Expected, else asks for it in Realm.
void Locked(httplib::Server& S, const std::string& Path, const std::string& Realm,
            const std::string& Expected, const std::string& Html) {
    S.Get(Path, [=](const httplib::Request& Q, httplib::Response& R) {
        if (Q.get_header_value("Authorization") != Expected) {
            R.status = 401;
            R.set_header("WWW-Authenticate", "Basic realm=\"" + Realm + "\"");
            R.set_content("<title>Refused</title><p>no entry</p>", "text/html");
            return;
        }
        R.set_content(Html, "text/html");
    });
}

// The start page and its frame each ask in a realm of their own (the frame
// lies outside the page's folder, so the browser does not send it what the
// page's challenge got); the open page's frame wants someone else's.
void Routes(httplib::Server& S) {
    Locked(S, "/locked/index.htm", "Pages", UserSecret,
           "<title>Locked page</title><p>behind the door</p>"
           "<iframe src=\"/vault/frame.htm\"></iframe>");
    Locked(S, "/vault/frame.htm", "Vault", UserSecret,
           "<title>Vault</title><p>the frame's secret</p>");
    S.Get("/open.htm", [](const httplib::Request&, httplib::Response& R) {
        R.set_content("<title>Open</title><iframe src=\"/others/frame.htm\"></iframe>",
                      "text/html");
    });
    Locked(S, "/others/frame.htm", "Others", OtherWord, "<p>not for user</p>");
}

std::unique_ptr<DevToolsBrowser> StartBrowser(DevToolsBrowser::Credentials Site,
                                              DevToolsBrowser::Credentials Proxy = {},
                                              int ProxyPort = 0) {
    DevToolsBrowser::Options options;
    options.Site = std::move(Site);
    options.Proxy = std::move(Proxy);
    options.LoadTimeout = Limit;
    // Every address through the proxy, those of 127.0.0.1 too.
    if (ProxyPort != 0)
        options.ExtraFlags = {"--proxy-server=http://127.0.0.1:" + std::to_string(ProxyPort),
                              "--proxy-bypass-list=<-loopback>"};
    return std::make_unique<DevToolsBrowser>(options);
}

std::string Text(const Variant& Window) {
    return Window.Get("document").Get("body").Get("innerText").ToText();
}

// How many requests for Path carried credentials.
std::size_t WithCredentials(const LocalServer& Server, const std::string& Path) {
    std::size_t n = 0;
    for (const check::SeenRequest& r : Server.Seen())
        if (r.Target == Path && r.Headers.contains("Authorization"))
            ++n;
    return n;
}

// The command lines of the browser's process group, arguments joined by
// spaces.
std::vector<std::string> CommandLines(pid_t Group) {
    std::vector<std::string> lines;
    for (const check::GroupMember& member : check::MembersOfGroup(Group)) {
        std::ifstream cmdline(member.Folder / "cmdline");
        std::string args((std::istreambuf_iterator<char>(cmdline)),
                         std::istreambuf_iterator<char>());
        std::replace(args.begin(), args.end(), '\0', ' ');
        lines.push_back(args);
    }
    return lines;
}

class DevToolsAuthTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { Site = std::make_unique<LocalServer>(Routes); }
    static void TearDownTestSuite() { Site.reset(); }
    static inline std::unique_ptr<LocalServer> Site;
};

TEST_F(DevToolsAuthTest, RightCredentialsOpenThePageAndItsFrames) {
    const auto browser = StartBrowser({LocalServer::User, LocalServer::Password, "give them"});
    const Variant w = browser->Open(Site->Url("/locked/index.htm"));
    EXPECT_EQ(w.Get("document").Get("title").ToText(), "Locked page");
    EXPECT_EQ(Text(w), "behind the door");
    const Variant frame = w.Get("frames").Call("item", {0});
    EXPECT_EQ(frame.Get("document").Get("title").ToText(), "Vault");
    EXPECT_EQ(Text(frame), "the frame's secret");
    // Each asked once and got the answer once.
    EXPECT_EQ(WithCredentials(*Site, "/locked/index.htm"), 1u);
    EXPECT_EQ(WithCredentials(*Site, "/vault/frame.htm"), 1u);

    // Digest too (LocalServer's own route, same credentials).
    EXPECT_EQ(Text(browser->Open(Site->Url("/digest"))), "digest ok");

    // A frame that wants other credentials fails the page, naming the frame.
    EXPECT_EQ(ErrorOf([&] { browser->Open(Site->Url("/open.htm")); }),
              "Cannot open " + Site->Url("/open.htm") +
                  ": the server refused the user name and password for its frame " +
                  Site->Url("/others/frame.htm"));

    // The password went over the pipe only.
    const std::vector<std::string> lines = CommandLines(browser->ProcessId());
    ASSERT_FALSE(lines.empty());
    for (const std::string& line : lines)
        EXPECT_THAT(line, Not(HasSubstr(LocalServer::Password)));
}

TEST_F(DevToolsAuthTest, RefusedCredentialsFailTheLoad) {
    const auto browser = StartBrowser({LocalServer::User, "wrong", "give them"});
    const std::string url = Site->Url("/locked/index.htm");
    const std::size_t before = WithCredentials(*Site, "/locked/index.htm");
    EXPECT_EQ(ErrorOf([&] { browser->Open(url); }),
              "Cannot open " + url + ": the server refused the user name and password");
    // Tried once, not again and again.
    EXPECT_EQ(WithCredentials(*Site, "/locked/index.htm") - before, 1u);
    // Pages without a password still open in the same browser.
    EXPECT_EQ(Text(browser->Open(Site->Url("/plain"))), "Hello");
}

TEST_F(DevToolsAuthTest, NoCredentialsSayHowToGiveThem) {
    const auto browser = StartBrowser({"", "", "give them with --user and --password"});
    const std::string url = Site->Url("/locked/index.htm");
    EXPECT_EQ(ErrorOf([&] { browser->Open(url); }),
              "Cannot open " + url +
                  ": the server asks for a user name and password, and none was given; give "
                  "them with --user and --password");
    // Other error answers keep their status.
    EXPECT_EQ(ErrorOf([&] { browser->Open(Site->Url("/status/403")); }),
              "Cannot open " + Site->Url("/status/403") + ": the page answered HTTP 403 Forbidden");
}

// A proxy that asks for credentials of its own; the page's address is never
// resolved, the proxy answers for it.
TEST_F(DevToolsAuthTest, ProxyCredentials) {
    const LocalServer proxy(LocalServer::ProxyRoutes("puser", "ppass"));
    const std::string url = "http://site.invalid/page";
    {
        const auto browser = StartBrowser({}, {"puser", "ppass", "proxy hint"}, proxy.Port());
        EXPECT_EQ(Text(browser->Open(url)), "proxied " + url);
        for (const std::string& line : CommandLines(browser->ProcessId()))
            EXPECT_THAT(line, Not(HasSubstr("ppass")));
    }
    {
        const auto browser = StartBrowser({}, {"puser", "wrong", "proxy hint"}, proxy.Port());
        EXPECT_EQ(ErrorOf([&] { browser->Open(url); }),
                  "Cannot open " + url + ": the proxy refused the user name and password");
    }
    {
        // Site credentials only: the proxy's challenge is not answered with them.
        const auto browser =
            StartBrowser({"puser", "ppass", "site hint"}, {"", "", "proxy hint"}, proxy.Port());
        EXPECT_EQ(ErrorOf([&] { browser->Open(url); }),
                  "Cannot open " + url +
                      ": the proxy asks for a user name and password, and none was given; "
                      "proxy hint");
    }
    {
        // None at all: the browser's own refusal is told the same way.
        const auto browser = StartBrowser({}, {"", "", "proxy hint"}, proxy.Port());
        EXPECT_EQ(ErrorOf([&] { browser->Open(url); }),
                  "Cannot open " + url +
                      ": the proxy asks for a user name and password, and none was given; "
                      "proxy hint");
    }
}

} // namespace
