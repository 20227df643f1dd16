// What handing the browser's cookies to a save costs, for a list of ITEMS
// items over HOSTS hosts with COOKIES cookies in the browser's store:
//  - the question: headless Chromium's store read over DevTools (what
//    larkspool-save does), and the program's side of the extension's answer
//    (its JSON over a native-messaging pipe, read and checked); the
//    extension's own cookies.getAll is not in it;
//  - loading the hosts' cookies into the session's jar;
//  - ITEMS small GETs on one kept-alive connection, with that jar and with an
//    empty one: what carrying the cookies costs each request.
// Medians of RUNS; prints the cost per request of the whole hand-over.
//
// With EXTENSION_DIR (the extension's folder) it also times, in the
// extension's service worker in Chromium, what the extension does for the
// question: cookies.getAll on the tab's store and the filter for the hosts.
//
//   cookie_bench [ITEMS [HOSTS [COOKIES [RUNS [EXTENSION_DIR]]]]]   (default 2000 100 1000 5)
#include "browser/CookieJson.h"
#include "browser/DevToolsBrowser.h"
#include "browser/ExtensionConnection.h"
#include "browser/NativeMessaging.h"
#include "http/AdvHttp.h"

#include <httplib.h>

#include <QCoreApplication>
#include <QEventLoop>

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

using namespace larkspool;
using Clock = std::chrono::steady_clock;
using nlohmann::json;

namespace {

double Millis(Clock::time_point Since) {
    return std::chrono::duration<double, std::milli>(Clock::now() - Since).count();
}

template <class F> double Median(int Runs, F Measure) {
    std::vector<double> times;
    for (int i = 0; i < Runs; ++i)
        times.push_back(Measure());
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

// ITEMS GETs of /small, one after the other, with Lines in the jar.
double Gets(const std::string& Base, int Items, const std::vector<std::string>& Lines) {
    TAdvHttp http;
    http.DefaultUi = false;
    http.AddCookies(Lines);
    int done = 0;
    bool failed = false;
    http.OnError = [&](TAdvHttp&) { failed = true; };
    http.OnRequestComplete = [&](TAdvHttp& h) {
        if (++done < Items)
            h.Execute(false);
    };
    http.SetURL(Base + "/small");
    const auto start = Clock::now();
    http.Execute(false);
    while (done < Items && !failed)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    if (failed)
        std::fprintf(stderr, "a request failed\n");
    return Millis(start);
}

// The extension's own part of the question, timed inside its service worker
// (as background.js does it: the stores, getAll, the filter).
double ExtensionQuestion(DevToolsBrowser& Browser, const std::vector<std::string>& Hosts) {
    std::string session;
    for (int attempt = 0; attempt < 100 && session.empty(); ++attempt) {
        const json targets = Browser.Command("Target.getTargets");
        for (const json& t : targets.value("targetInfos", json::array()))
            if (t.value("type", "") == "service_worker" &&
                t.value("url", "").starts_with("chrome-extension://"))
                session = Browser
                              .Command("Target.attachToTarget",
                                       {{"targetId", t.value("targetId", "")}, {"flatten", true}})
                              .value("sessionId", "");
        if (session.empty())
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    if (session.empty())
        return -1;
    const std::string expression =
        "(async () => { const hosts = new Set(" + json(Hosts).dump() +
        "); const t = performance.now();"
        " const stores = await chrome.cookies.getAllCookieStores();"
        " const all = await chrome.cookies.getAll({storeId: stores[0].id});"
        " const fit = all.filter((c) => { const d = c.domain.replace(/^\\./, '');"
        " if (hosts.has(d)) return true; if (c.hostOnly) return false;"
        " for (const h of hosts) if (h.endsWith('.' + d)) return true; return false; });"
        " JSON.stringify(fit); return performance.now() - t; })()";
    const json result = Browser.Command(
        "Runtime.evaluate",
        {{"expression", expression}, {"awaitPromise", true}, {"returnByValue", true}}, session);
    const json value = result.value("result", json::object()).value("value", json());
    return value.is_number() ? value.get<double>() : -1;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int items = argc > 1 ? std::atoi(argv[1]) : 2000;
    const int hostCount = argc > 2 ? std::atoi(argv[2]) : 100;
    const int cookieCount = argc > 3 ? std::atoi(argv[3]) : 1000;
    const int runs = argc > 4 ? std::atoi(argv[4]) : 5;
    ::setenv("no_proxy", "*", 1);

    // The store: COOKIES cookies spread over the hosts, 127.0.0.1 (the
    // server below) among them, and as many again for hosts not on the list.
    std::vector<std::string> hosts{"127.0.0.1"};
    for (int h = 1; h < hostCount; ++h)
        hosts.push_back("site" + std::to_string(h) + ".test"); // each its own site
    const std::int64_t later = std::time(nullptr) + 30 * 86400;
    std::vector<BrowserCookie> store;
    for (int c = 0; c < 2 * cookieCount; ++c) {
        const bool listed = c < cookieCount;
        const std::string host = listed ? hosts[static_cast<std::size_t>(c % hostCount)]
                                        : "elsewhere" + std::to_string(c) + ".test";
        store.push_back({host, false, "/", false, c % 3 == 0, later, "cookie" + std::to_string(c),
                         std::string(32, 'v')});
    }

    // larkspool-save: the browser's store read and sorted for the hosts.
    DevToolsBrowser::Options options;
    const std::string extensionDir = argc > 5 ? argv[5] : "";
    if (!extensionDir.empty())
        options.ExtraFlags = {"--load-extension=" + extensionDir};
    DevToolsBrowser browser(options);
    browser.SetCookies(store);
    std::size_t fitting = 0;
    const double chromium = Median(runs, [&] {
        const auto start = Clock::now();
        fitting = CookiesForHosts(browser.Cookies(), hosts).size();
        return Millis(start);
    });
    const double inExtension =
        extensionDir.empty() ? -1 : Median(runs, [&] { return ExtensionQuestion(browser, hosts); });
    browser.Close();

    // The extension: its answer over the pipe, read and checked by the program.
    json answer = json::array();
    for (const BrowserCookie& c : store)
        if (CookieFitsHost(c, c.Domain) && c.Domain.find("elsewhere") == std::string::npos)
            answer.push_back({{"domain", c.Domain},
                              {"hostOnly", true},
                              {"path", c.Path},
                              {"secure", c.Secure},
                              {"httpOnly", c.HttpOnly},
                              {"session", false},
                              {"expirationDate", c.Expires},
                              {"name", c.Name},
                              {"value", c.Value}});
    int toHost[2], fromHost[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, toHost) != 0 ||
        ::socketpair(AF_UNIX, SOCK_STREAM, 0, fromHost) != 0)
        return 1;
    std::thread extension([&] {
        while (std::optional<json> m = ReadNativeMessage(fromHost[1]))
            WriteNativeMessage(toHost[1],
                               {{"type", "reply"}, {"id", (*m)["id"]}, {"cookies", answer}});
    });
    auto connection = ExtensionConnection::Open(toHost[0], fromHost[0], {});
    std::vector<BrowserCookie> handed;
    double fromExtension = Median(runs, [&] {
        const auto start = Clock::now();
        handed = CookiesForHosts(connection->Cookies(hosts), hosts);
        return Millis(start);
    });
    connection->Close();
    ::shutdown(fromHost[1], SHUT_RDWR);
    ::shutdown(fromHost[0], SHUT_RDWR);
    extension.join();

    std::vector<std::string> lines;
    const double toLines = Median(runs, [&] {
        const auto start = Clock::now();
        lines.clear();
        for (const BrowserCookie& c : handed)
            lines.push_back(CookieLine(c));
        return Millis(start);
    });

    httplib::Server server;
    server.set_tcp_nodelay(true);
    server.set_keep_alive_max_count(100000);
    server.Get("/small", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("<html><body>small page</body></html>", "text/html");
    });
    const int port = server.bind_to_any_port("127.0.0.1");
    std::thread listener([&] { server.listen_after_bind(); });
    while (!server.is_running())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const std::string base = "http://127.0.0.1:" + std::to_string(port);
    const double empty = Median(runs, [&] { return Gets(base, items, {}); });
    const double full = Median(runs, [&] { return Gets(base, items, lines); });
    server.stop();
    listener.join();

    const int perHost = cookieCount / hostCount;
    std::printf("store: %zu cookies, %zu of them for the %d hosts of the list (%d sent to each)\n",
                store.size(), fitting, hostCount, perHost);
    std::printf("question, larkspool-save (Chromium over DevTools): %.2f ms\n", chromium);
    std::printf("question, extension (program's side of the answer): %.2f ms for %zu cookies\n",
                fromExtension, handed.size());
    if (inExtension >= 0) {
        std::printf("question, extension (its own side: getAll and the filter): %.2f ms\n",
                    inExtension);
        fromExtension += inExtension;
    }
    std::printf("cookies.txt lines for the jar: %.3f ms\n", toLines);
    std::printf("%d GETs: empty jar %.1f ms, with the cookies %.1f ms\n", items, empty, full);
    const double perRequest = (full - empty) / items;
    std::printf("per request: hand-over %.2f us (Chromium) / %.2f us (extension), carrying "
                "%.2f us, in all %.2f us / %.2f us\n",
                1000 * (chromium + toLines) / items, 1000 * (fromExtension + toLines) / items,
                1000 * perRequest, 1000 * ((chromium + toLines) / items + perRequest),
                1000 * ((fromExtension + toLines) / items + perRequest));
    return fitting == static_cast<std::size_t>(cookieCount) ? 0 : 1;
}
