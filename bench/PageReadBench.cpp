// Reading a page through headless Chromium: a generated page of N links
// (and a few pictures) served on 127.0.0.1, opened in the browser, then read
// as a save reads it (the link list, the pictures, the root markup). Each
// size is opened in several fresh tabs and read there the first time (the
// answerer put into the page, the code cold), then read again from a new
// snapshot; the medians are printed, with where the time went: the snapshot
// call (its part in the page as the page measured it, the rest the pipe)
// and the answering here. Then the same page call by call, to show that the
// readings agree, and the link window filled from a fresh window.
//   page_read_bench [--runs N] [LINKS ...]     (default 5 runs, 200 2000)

#include "browser/DevToolsBrowser.h"
#include "browser/LinkCollection.h"
#include "browser/PageSnapshot.h"
#include "tools/ProcessValues.h"
#include "tools/Settings.h"
#include "ui/AppValues.h"
#include "ui/StartForm.h"

#include <httplib.h>

#include <QApplication>
#include <QTemporaryDir>
#include <QTreeWidget>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

using namespace larkspool;
using Clock = std::chrono::steady_clock;

namespace {

double Ms(Clock::time_point Since) {
    return std::chrono::duration<double, std::milli>(Clock::now() - Since).count();
}

double Median(std::vector<double> Values) {
    if (Values.empty())
        return 0;
    std::sort(Values.begin(), Values.end());
    return Values[Values.size() / 2];
}

// One read: all of it, the snapshot call in it, the page's part of that call
// (as the page timed it) and the snapshot's size.
struct ReadTimes {
    std::vector<double> Total, Call, InPage, Bytes;

    void Print(const char* What) const {
        std::printf("  %-32s %7.1f ms  (snapshot call %.1f ms, of it in the page %.1f ms; "
                    "%.0f KB)\n",
                    What, Median(Total), Median(Call), Median(InPage), Median(Bytes) / 1024);
    }
};

// The bridge's own taker, timed.
SnapshotTaker Timed(ReadTimes& Times) {
    return [&Times](const DispatchPtr& W) {
        const auto t = Clock::now();
        std::optional<std::string> text = TakeLiveSnapshot(W);
        Times.Call.push_back(Ms(t));
        Times.Bytes.push_back(text ? static_cast<double>(text->size()) : 0);
        // The page's own time is the last member: "ms": N}.
        const std::size_t at = text ? text->rfind("\"ms\":") : std::string::npos;
        Times.InPage.push_back(at == std::string::npos ? 0 : std::atof(text->c_str() + at + 5));
        return text;
    };
}

std::string LinksPage(int Links) {
    std::string html = "<!DOCTYPE html><html><head><title>Links " + std::to_string(Links) +
                       "</title></head><body>";
    for (int i = 1; i <= 10; ++i)
        html += "<img src=\"img/p" + std::to_string(i) + ".png\" width=1 height=1>";
    for (int i = 1; i <= Links; ++i)
        html += "<p><a href=\"page" + std::to_string(i) + ".html\">Page " + std::to_string(i) +
                "</a></p>\n";
    return html + "</body></html>";
}

// What a save reads of the window: the link list, then the pictures, the
// root markup, mode and encoding of the page.
std::size_t ReadAsASave(const Variant& W) {
    const PageLinks page = CollectPageLinks(W);
    const Variant d = W.Get("parent").Get("document");
    std::size_t read = page.Rows.size() + d.Get("location").ToText().size();
    const Variant images = d.Get("Images");
    for (std::int64_t i = 0; i < images.Get("Length").ToInteger(); ++i)
        read += images.Call("Item", {i}).Get("src").ToText().size();
    read += d.Get("All").Call("Item", {0, 0}).Get("outerHTML").ToText().size();
    read += d.Get("characterSet").ToText().size() + d.Get("compatMode").ToText().size();
    read += static_cast<std::size_t>(W.Get("parent").Get("frames").Get("Length").ToInteger());
    return read;
}

} // namespace

int main(int argc, char** argv) {
    if (std::getenv("QT_QPA_PLATFORM") == nullptr)
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", home.path().toUtf8());
    Settings = TSettings{};

    int runs = 5;
    std::vector<int> sizes;
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--runs" && i + 1 < argc)
            runs = std::max(1, std::atoi(argv[++i]));
        else
            sizes.push_back(std::atoi(argv[i]));
    }
    if (sizes.empty())
        sizes = {200, 2000};

    httplib::Server server;
    server.Get(R"(/links-(\d+)\.html)", [](const httplib::Request& R, httplib::Response& A) {
        A.set_content(LinksPage(std::stoi(R.matches[1])), "text/html; charset=utf-8");
    });
    server.Get(R"(/img/.*)", [](const httplib::Request&, httplib::Response& A) {
        A.set_content("GIF89a", "image/gif");
    });
    const int port = server.bind_to_any_port("127.0.0.1");
    std::thread serving([&] { server.listen_after_bind(); });
    while (!server.is_running())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const std::string base = "http://127.0.0.1:" + std::to_string(port) + "/";

    const auto started = Clock::now();
    DevToolsBrowser browser;
    std::printf("browser start: %.0f ms\n", Ms(started));
    for (const int links : sizes) {
        const std::string url = base + "links-" + std::to_string(links) + ".html";
        std::vector<double> loads;
        ReadTimes first, again;
        std::size_t fromSnapshot = 0;
        std::uint64_t firstCommands = 0;
        Variant window;
        for (int run = 0; run < runs; ++run) {
            auto t = Clock::now();
            window = browser.Open(url);
            loads.push_back(Ms(t));
            // The window as Open hands it out, its snapshots timed.
            const Variant timed =
                SnapshotWindow(Variant(LiveObjectOf(window.ToObject())), Timed(first));
            const std::uint64_t commands = browser.CommandsSent();
            t = Clock::now();
            fromSnapshot = ReadAsASave(timed);
            first.Total.push_back(Ms(t));
            firstCommands = browser.CommandsSent() - commands;

            // Again, once the answerer is in the page and the page laid out.
            const Variant timedAgain =
                SnapshotWindow(Variant(LiveObjectOf(window.ToObject())), Timed(again));
            t = Clock::now();
            (void)ReadAsASave(timedAgain);
            again.Total.push_back(Ms(t));
        }
        std::printf("%d links: load %.0f ms; medians of %d reads:\n", links, Median(loads), runs);
        first.Print("first read in a fresh tab");
        std::printf("  %-32s %7llu round trips\n", "",
                    static_cast<unsigned long long>(firstCommands));
        again.Print("read from a new snapshot");

        const Variant live(LiveObjectOf(window.ToObject()));
        const std::uint64_t commands = browser.CommandsSent();
        auto t = Clock::now();
        const std::size_t fromPage = ReadAsASave(live);
        const double liveMs = Ms(t);
        std::printf("  %-32s %7.1f ms  (%llu round trips)%s\n", "call by call", liveMs,
                    static_cast<unsigned long long>(browser.CommandsSent() - commands),
                    fromSnapshot == fromPage ? "" : "; THE READINGS DIFFER");

        // The link window, from the browser's hand-over to a painted list.
        const Variant handed = browser.Open(url);
        TStartForm form;
        form.show();
        HomeURL = "http://127.0.0.1:1/"; // nothing answers the update check
        QApplication::processEvents();
        t = Clock::now();
        form.CollectLinks(handed);
        QApplication::processEvents();
        const double windowMs = Ms(t);
        const auto* list = form.findChild<QTreeWidget*>();
        std::printf("  %-32s %7.1f ms  (%d rows)\n", "link window filled and shown", windowMs,
                    list ? list->topLevelItemCount() : -1);
    }
    browser.Close();
    server.stop();
    serving.join();
    return 0;
}
