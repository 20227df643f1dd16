#include "platform/wininet/WinInet.h"
#include "support/LocalServer.h"
#include "support/Wait.h"
#include "support/WinInetFixture.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

namespace larkspool {
namespace {

using namespace std::chrono_literals;
using check::LocalServer;
using check::RawServer;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

constexpr DWORD HTTP_QUERY_LOCATION = 33;

class WinInetTest : public check::WinInetFixture {};

// True when Wanted appears in Seen in this order, other entries in between.
bool InOrder(const std::vector<DWORD>& Seen, const std::vector<DWORD>& Wanted) {
    auto at = Seen.begin();
    for (DWORD status : Wanted) {
        at = std::find(at, Seen.end(), status);
        if (at == Seen.end())
            return false;
        ++at;
    }
    return true;
}

TEST_F(WinInetTest, AsyncGetNotifiesInOrderAndAnswersQueries) {
    LocalServer& server = Serve();
    HINTERNET r = Request(Open(), server.Port(), "/plain");
    INTERNET_ASYNC_RESULT result = Send(r);
    EXPECT_EQ(result.dwResult, DWORD_PTR(1));
    EXPECT_EQ(result.dwError, ERROR_SUCCESS);
    EXPECT_TRUE(InOrder(Events.Statuses(),
                        {INTERNET_STATUS_RESOLVING_NAME, INTERNET_STATUS_NAME_RESOLVED,
                         INTERNET_STATUS_CONNECTING_TO_SERVER, INTERNET_STATUS_CONNECTED_TO_SERVER,
                         INTERNET_STATUS_SENDING_REQUEST, INTERNET_STATUS_REQUEST_SENT,
                         INTERNET_STATUS_RECEIVING_RESPONSE, INTERNET_STATUS_RESPONSE_RECEIVED,
                         INTERNET_STATUS_REQUEST_COMPLETE}));
    EXPECT_EQ(Events.Texts(INTERNET_STATUS_CONNECTED_TO_SERVER),
              std::vector<std::string>{"127.0.0.1"});

    EXPECT_EQ(Status(r), 200u);
    EXPECT_EQ(Query(r, HTTP_QUERY_STATUS_CODE), "200");
    std::string head = Query(r, HTTP_QUERY_RAW_HEADERS_CRLF);
    EXPECT_THAT(head, StartsWith("HTTP/1.1 200 OK\r\n"));
    EXPECT_THAT(head, HasSubstr("\r\nContent-Type: text/html\r\n"));
    EXPECT_EQ(head.substr(head.size() - 4), "\r\n\r\n");
    char small[8];
    DWORD size = sizeof small;
    EXPECT_FALSE(HttpQueryInfoA(r, HTTP_QUERY_RAW_HEADERS_CRLF, small, &size, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(size, head.size() + 1);
    EXPECT_EQ(Query(r, HTTP_QUERY_LOCATION), "error 12150");
    EXPECT_EQ(Query(r, 9999), "error 12154");

    EXPECT_EQ(ReadAll(r), "<html><body>Hello</body></html>");
    HINTERNET internet = Open();
    EXPECT_EQ(Fetch(internet, server.Port(), "/zero"), std::string("ab\0cd", 5));
    EXPECT_EQ(Fetch(internet, server.Port(), "/empty"), "");
}

TEST_F(WinInetTest, LargeBodyWaitsForTheReaderAndArrivesWhole) {
    LocalServer& server = Serve();
    constexpr std::size_t size = 64 << 20;
    HINTERNET r = Request(Open(), server.Port(), ("/large/" + std::to_string(size)).c_str());
    ASSERT_TRUE(Send(r).dwResult);
    // Unread, the transfer stops: the server is soon held back by the socket.
    std::size_t written = 0;
    EXPECT_TRUE(check::WaitFor(
        [&] {
            std::size_t before = server.LargeBytesWritten();
            std::this_thread::sleep_for(100ms);
            written = server.LargeBytesWritten();
            return written == before;
        },
        10s, 5ms));
    EXPECT_LT(written, size / 2);

    std::string body = ReadAll(r);
    ASSERT_EQ(body.size(), size);
    for (std::size_t i = 0; i < size; i += 4093)
        ASSERT_EQ(body[i], check::LargeBodyByte(i)) << i;
    DWORD reported = 0;
    for (const auto& item : Events.Logged())
        if (item.Status == INTERNET_STATUS_RESPONSE_RECEIVED)
            reported += item.Number;
    EXPECT_GT(reported, size);
}

TEST_F(WinInetTest, RequestsOfOneInternetHandleShareAConnection) {
    LocalServer& server = Serve();
    HINTERNET internet = Open();
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(Fetch(internet, server.Port(), "/plain"), "<html><body>Hello</body></html>");
    EXPECT_EQ(server.Connections(), 1u);
    Fetch(Open(), server.Port(), "/plain");
    EXPECT_EQ(server.Connections(), 2u);
}

// The browser's cookies go into the handle's jar: each request carries
// those that fit its host and path (Secure ones too: 127.0.0.1 counts as
// secure, as in browsers), a request
// with INTERNET_FLAG_NO_COOKIES carries none, another handle has its own jar,
// and what an answer sets joins them.
TEST_F(WinInetTest, BrowserCookiesGoWithTheRequestsTheyFit) {
    LocalServer& server = Serve([](httplib::Server& Routes) {
        Routes.Get("/setter", [](const httplib::Request&, httplib::Response& Response) {
            Response.set_header("Set-Cookie", "fromserver=1; Path=/");
            Response.set_content("set", "text/plain");
        });
    });
    HINTERNET internet = Open();
    ASSERT_TRUE(InternetAddCookies(internet, {"127.0.0.1\tFALSE\t/\tFALSE\t0\tsid\tabc",
                                              "#HttpOnly_127.0.0.1\tFALSE\t/echo\tFALSE\t0\th\t1",
                                              "127.0.0.1\tFALSE\t/other\tFALSE\t0\tpath\tno",
                                              "127.0.0.1\tFALSE\t/\tTRUE\t0\tsecure\tyes",
                                              "other.test\tFALSE\t/\tFALSE\t0\thost\tno",
                                              "127.0.0.1\tFALSE\t/\tFALSE\t1\texpired\tno",
                                              "not a cookie line"}));
    const auto cookieLine = [](const std::string& Echo) {
        const std::size_t at = Echo.find("Cookie: ");
        return at == std::string::npos ? std::string()
                                       : Echo.substr(at + 8, Echo.find('\n', at) - at - 8);
    };
    const std::string first = cookieLine(Fetch(internet, server.Port(), "/echo"));
    EXPECT_THAT(first, HasSubstr("sid=abc"));
    EXPECT_THAT(first, HasSubstr("h=1"));
    EXPECT_THAT(first, HasSubstr("secure=yes"));
    EXPECT_THAT(first, Not(HasSubstr("no")));

    EXPECT_EQ(cookieLine(Fetch(internet, server.Port(), "/echo", INTERNET_FLAG_NO_COOKIES)), "");
    EXPECT_EQ(cookieLine(Fetch(Open(), server.Port(), "/echo")), "");

    Fetch(internet, server.Port(), "/setter");
    EXPECT_THAT(cookieLine(Fetch(internet, server.Port(), "/echo")), HasSubstr("fromserver=1"));
    EXPECT_FALSE(InternetAddCookies(nullptr, {}));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
}

TEST_F(WinInetTest, SynchronousCallsBlockAndStillNotify) {
    LocalServer& server = Serve();
    HINTERNET r = Request(Open(0), server.Port(), "/plain");
    ASSERT_TRUE(HttpSendRequestA(r, nullptr, 0, nullptr, 0));
    EXPECT_TRUE(InOrder(Events.Statuses(),
                        {INTERNET_STATUS_SENDING_REQUEST, INTERNET_STATUS_RESPONSE_RECEIVED}));
    EXPECT_EQ(Status(r), 200u);
    EXPECT_EQ(ReadAll(r, false), "<html><body>Hello</body></html>");
    std::vector<DWORD> statuses = Events.Statuses();
    EXPECT_EQ(std::count(statuses.begin(), statuses.end(), INTERNET_STATUS_REQUEST_COMPLETE), 0);
}

class WinInetAuthTest : public WinInetTest, public ::testing::WithParamInterface<const char*> {
protected:
    std::vector<check::SeenRequest> SeenAt(const LocalServer& Server) {
        std::vector<check::SeenRequest> out;
        for (auto& seen : Server.Seen())
            if (seen.Target == GetParam())
                out.push_back(seen);
        return out;
    }
};

TEST_P(WinInetAuthTest, CredentialsAnswerTheChallengeOnly) {
    LocalServer& server = Serve();
    HINTERNET r = Request(Open(), server.Port(), GetParam());
    SetOption(INTERNET_OPTION_USERNAME, LocalServer::User);
    SetOption(INTERNET_OPTION_PASSWORD, LocalServer::Password);
    ASSERT_TRUE(Send(r).dwResult);
    EXPECT_EQ(Status(r), 200u);
    EXPECT_THAT(ReadAll(r), HasSubstr(" ok"));
    auto seen = SeenAt(server);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_FALSE(seen[0].Headers.count("Authorization"));
    EXPECT_TRUE(seen[1].Headers.count("Authorization"));
}

TEST_P(WinInetAuthTest, RefusalReachesTheCallerWhoMaySendAgain) {
    LocalServer& server = Serve();
    HINTERNET r = Request(Open(), server.Port(), GetParam());
    ASSERT_TRUE(Send(r).dwResult);
    EXPECT_EQ(Status(r), 401u);
    EXPECT_EQ(InternetErrorDlg(nullptr, r, 0, 7, nullptr), ERROR_CANCELLED);

    SetOption(INTERNET_OPTION_USERNAME, LocalServer::User);
    SetOption(INTERNET_OPTION_PASSWORD, "wrong");
    ASSERT_TRUE(Send(r).dwResult);
    EXPECT_EQ(Status(r), 401u);
    EXPECT_EQ(ReadAll(r), "no entry");

    SetOption(INTERNET_OPTION_PASSWORD, LocalServer::Password);
    ASSERT_TRUE(Send(r).dwResult);
    EXPECT_EQ(Status(r), 200u);
    EXPECT_THAT(ReadAll(r), HasSubstr(" ok"));
}

INSTANTIATE_TEST_SUITE_P(Schemes, WinInetAuthTest, ::testing::Values("/basic", "/digest"));

TEST_F(WinInetTest, CredentialsStayWithTheirServerAcrossRedirects) {
    LocalServer& first = Serve();
    LocalServer& other = Serve();
    HINTERNET internet = Open();
    std::string away = "/redirect?to=" + other.Url("/basic");
    HINTERNET r = Request(internet, first.Port(), away.c_str());
    SetOption(INTERNET_OPTION_USERNAME, LocalServer::User);
    SetOption(INTERNET_OPTION_PASSWORD, LocalServer::Password);
    ASSERT_TRUE(Send(r).dwResult);
    EXPECT_EQ(Status(r), 401u);
    ASSERT_FALSE(other.Seen().empty());
    for (auto& seen : other.Seen())
        EXPECT_FALSE(seen.Headers.count("Authorization"));

    HINTERNET home = Request(internet, first.Port(), "/redirect?to=/basic");
    SetOption(INTERNET_OPTION_USERNAME, LocalServer::User);
    SetOption(INTERNET_OPTION_PASSWORD, LocalServer::Password);
    ASSERT_TRUE(Send(home).dwResult);
    EXPECT_EQ(Status(home), 200u);
}

TEST_F(WinInetTest, ProxyChallengeIsAnsweredWithProxyCredentials) {
    LocalServer& proxy = Serve(LocalServer::ProxyRoutes("pu", "pp"));
    std::string name = "127.0.0.1:" + std::to_string(proxy.Port());
    HINTERNET r = Request(Open(INTERNET_FLAG_ASYNC, INTERNET_OPEN_TYPE_PROXY, name.c_str()), 80,
                          "/page", 0, "proxied.invalid");
    ASSERT_TRUE(Send(r).dwResult);
    EXPECT_EQ(Status(r), 407u);
    SetOption(INTERNET_OPTION_PROXY_USERNAME, "pu");
    SetOption(INTERNET_OPTION_PROXY_PASSWORD, "pp");
    ASSERT_TRUE(Send(r).dwResult);
    EXPECT_EQ(Status(r), 200u);
    EXPECT_EQ(ReadAll(r), "proxied http://proxied.invalid/page");
    auto seen = proxy.Seen();
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_FALSE(seen[1].Headers.count("Proxy-Authorization"));

    std::string named = "http=http://" + name;
    HINTERNET other = Request(Open(INTERNET_FLAG_ASYNC, INTERNET_OPEN_TYPE_PROXY, named.c_str()),
                              80, "/x", 0, "proxied.invalid");
    ASSERT_TRUE(Send(other).dwResult);
    EXPECT_EQ(Status(other), 407u);
}

TEST_F(WinInetTest, RedirectsAreFollowedAndReportedHopByHop) {
    LocalServer& server = Serve();
    HINTERNET internet = Open();
    EXPECT_EQ(Fetch(internet, server.Port(), "/chain/3"), "end of chain");
    EXPECT_EQ(Events.Texts(INTERNET_STATUS_REDIRECT),
              (std::vector<std::string>{server.Url("/chain/2"), server.Url("/chain/1"),
                                        server.Url("/chain/0")}));

    HINTERNET kept = Request(internet, server.Port(), "/chain/3", INTERNET_FLAG_NO_AUTO_REDIRECT);
    ASSERT_TRUE(Send(kept).dwResult);
    EXPECT_EQ(Status(kept), 302u);
    EXPECT_EQ(Query(kept, HTTP_QUERY_LOCATION), "/chain/2");
    EXPECT_EQ(ReadAll(kept), "moved");

    check::Recorder& events = Events;
    std::size_t before = events.Texts(INTERNET_STATUS_REDIRECT).size();
    HINTERNET loop = Request(internet, server.Port(), "/loop");
    INTERNET_ASYNC_RESULT result = Send(loop);
    EXPECT_FALSE(result.dwResult);
    EXPECT_EQ(result.dwError, ERROR_HTTP_REDIRECT_FAILED);
    EXPECT_EQ(events.Texts(INTERNET_STATUS_REDIRECT).size() - before, 10u);
}

TEST_F(WinInetTest, RedirectsKeepOrDropTheBodyByTheirCode) {
    LocalServer& server = Serve([](httplib::Server& Routes) {
        for (int code : {301, 303, 307}) {
            Routes.Post("/moved/" + std::to_string(code),
                        [code](const httplib::Request&, httplib::Response& Response) {
                            Response.status = code;
                            Response.set_header("Location", "/echo");
                        });
        }
    });
    HINTERNET internet = Open();
    auto post = [&](int Code) {
        std::string path = "/moved/" + std::to_string(Code);
        HINTERNET r = Request(internet, server.Port(), path.c_str(), 0, "127.0.0.1", "POST");
        EXPECT_TRUE(Send(r, "", "abc").dwResult);
        std::string echo = ReadAll(r);
        InternetCloseHandle(r);
        return echo;
    };
    for (int code : {301, 303}) {
        std::string echo = post(code);
        EXPECT_THAT(echo, StartsWith("GET\n")) << code;
        EXPECT_THAT(echo, Not(HasSubstr("abc"))) << code;
    }
    std::string kept = post(307);
    EXPECT_THAT(kept, StartsWith("POST\n"));
    EXPECT_THAT(kept, HasSubstr("Content-Length: 3\n"));
    EXPECT_EQ(kept.substr(kept.size() - 5), "\n\nabc");
}

TEST_F(WinInetTest, BodyAndHeadersGoWithAnyVerb) {
    RawServer raw([](const std::string&) {
        return std::string("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok");
    });
    const char* accept[] = {"text/html", "image/png", nullptr};
    HINTERNET r = Request(Open(), raw.Port(), "/a b?q=1", 0, "127.0.0.1", "GET", accept);
    ASSERT_TRUE(Send(r, "X-One: 1\r\nX-Two: 2\r\n\r\n", "abc").dwResult);
    EXPECT_EQ(ReadAll(r), "ok");
    ASSERT_EQ(raw.Requests().size(), 1u);
    std::string sent = raw.Requests()[0];
    EXPECT_THAT(sent, StartsWith("GET /a%20b?q=1 HTTP/1.1\r\n"));
    EXPECT_THAT(sent, HasSubstr("\r\nAccept: text/html, image/png\r\n"));
    EXPECT_THAT(sent, HasSubstr("\r\nX-One: 1\r\nX-Two: 2\r\n"));
    EXPECT_THAT(sent, HasSubstr("\r\nContent-Length: 3\r\n"));
    EXPECT_THAT(sent, Not(HasSubstr("Content-Type")));
    EXPECT_THAT(sent, Not(HasSubstr("Expect")));
    EXPECT_EQ(sent.substr(sent.size() - 7), "\r\n\r\nabc");
}

TEST_F(WinInetTest, RefusedConnectionFailsThroughTheCompletion) {
    HINTERNET r = Request(Open(), check::UnusedPort(), "/");
    INTERNET_ASYNC_RESULT result = Send(r);
    EXPECT_FALSE(result.dwResult);
    EXPECT_EQ(result.dwError, ERROR_INTERNET_CANNOT_CONNECT);
    DWORD n;
    char byte;
    EXPECT_FALSE(InternetReadFile(r, &byte, 1, &n));
    EXPECT_EQ(GetLastError(), ERROR_INTERNET_INCORRECT_HANDLE_STATE);
}

TEST_F(WinInetTest, ClosingAStalledOrPausedRequestIsPromptAndSilent) {
    LocalServer& server = Serve();
    HINTERNET internet = Open();
    for (const char* path : {"/stall", "/large/67108864"}) {
        HINTERNET r = Request(internet, server.Port(), path);
        ASSERT_TRUE(Send(r).dwResult);
        char block[16384];
        DWORD n = 0;
        if (std::string(path) == "/stall") {
            EXPECT_FALSE(InternetReadFile(r, block, sizeof block, &n));
            EXPECT_EQ(GetLastError(), ERROR_IO_PENDING);
        } else {
            std::this_thread::sleep_for(100ms); // paused by now
        }
        std::size_t heard = Events.Count();
        // Prompt: /stall answers nothing more until the server is destroyed,
        // and the large body waits for a reader, so a close that waited for
        // the transfer would never return.
        EXPECT_TRUE(InternetCloseHandle(r));
        std::this_thread::sleep_for(150ms);
        EXPECT_EQ(Events.Count(), heard) << path;
        EXPECT_FALSE(InternetCloseHandle(r));
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    }
    // The layer still serves the internet handle.
    EXPECT_EQ(Fetch(internet, server.Port(), "/plain"), "<html><body>Hello</body></html>");
}

TEST_F(WinInetTest, ClosingFromTheCallbackOrTheParentEndsTheRequest) {
    LocalServer& server = Serve();
    HINTERNET internet = Open();
    HINTERNET r = Request(internet, server.Port(), "/large/8388608");
    std::atomic<int> after{0};
    std::atomic<bool> closed{false};
    Events.OnEach = [&](DWORD status) {
        if (closed)
            ++after;
        else if (status == INTERNET_STATUS_RESPONSE_RECEIVED)
            closed = InternetCloseHandle(r) != 0;
    };
    ASSERT_TRUE(HttpSendRequestA(r, nullptr, 0, nullptr, 0) || GetLastError() == ERROR_IO_PENDING);
    ASSERT_TRUE(check::WaitFor([&] { return closed.load(); }, 10s, 5ms));
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(after, 0);
    Events.OnEach = nullptr;

    HINTERNET stalled = Request(internet, server.Port(), "/stall");
    ASSERT_TRUE(Send(stalled).dwResult);
    EXPECT_TRUE(InternetCloseHandle(internet));
    Internets.clear();
    DWORD n;
    char byte;
    EXPECT_FALSE(InternetReadFile(stalled, &byte, 1, &n));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(InternetCloseHandle(Connection));
}

TEST_F(WinInetTest, InvalidCallsSayWhy) {
    DWORD n;
    char byte;
    EXPECT_FALSE(InternetReadFile(reinterpret_cast<HINTERNET>(0x7), &byte, 1, &n));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    HINTERNET internet = Open();
    EXPECT_FALSE(HttpSendRequestA(internet, nullptr, 0, nullptr, 0));
    EXPECT_EQ(GetLastError(), ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
    HINTERNET r = Request(internet, 1, "/");
    EXPECT_FALSE(InternetReadFile(r, &byte, 1, &n));
    EXPECT_EQ(GetLastError(), ERROR_INTERNET_INCORRECT_HANDLE_STATE);
    EXPECT_FALSE(InternetSetOptionA(Connection, 12345, &n, sizeof n));
    EXPECT_EQ(GetLastError(), ERROR_INTERNET_INVALID_OPTION);
    EXPECT_EQ(InternetOpenA("x", INTERNET_OPEN_TYPE_PROXY, "", nullptr, 0), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);

    SetCredentialsPrompt([](HINTERNET, DWORD, DWORD) { return ERROR_INTERNET_FORCE_RETRY; });
    EXPECT_EQ(InternetErrorDlg(nullptr, r, 0, 0, nullptr), ERROR_INTERNET_FORCE_RETRY);
    SetCredentialsPrompt(nullptr);
}

} // namespace
} // namespace larkspool
