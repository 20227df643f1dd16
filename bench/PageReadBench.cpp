// Reading a page through headless Chromium: a generated page of N links
// (and a few pictures) served on 127.0.0.1, opened in the browser, then read
// as a save reads it (the link list, the pictures, the root markup), once
// from the snapshot the window answers from and once call by call on the
// same page, in one run; then the link window filled from a fresh window of
// that page. Prints milliseconds and round trips.
//   page_read_bench [LINKS ...]     (default 200 2000)

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

    std::vector<int> sizes;
    for (int i = 1; i < argc; ++i)
        sizes.push_back(std::atoi(argv[i]));
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
        auto t = Clock::now();
        const Variant window = browser.Open(url);
        const double load = Ms(t);

        std::uint64_t commands = browser.CommandsSent();
        t = Clock::now();
        const std::size_t fromSnapshot = ReadAsASave(window);
        const double snapshotMs = Ms(t);
        const std::uint64_t snapshotCommands = browser.CommandsSent() - commands;

        // Again, once the answerer is in the page and the page laid out.
        RetakeSnapshot(window.ToObject());
        commands = browser.CommandsSent();
        t = Clock::now();
        (void)ReadAsASave(window);
        const double againMs = Ms(t);
        std::printf("%d links: read from a new snapshot %.1f ms (%llu round trips)\n", links,
                    againMs, static_cast<unsigned long long>(browser.CommandsSent() - commands));

        const Variant live(LiveObjectOf(window.ToObject()));
        commands = browser.CommandsSent();
        t = Clock::now();
        const std::size_t fromPage = ReadAsASave(live);
        const double liveMs = Ms(t);
        const std::uint64_t liveCommands = browser.CommandsSent() - commands;

        std::printf("%d links: load %.0f ms; read from the snapshot %.1f ms (%llu round trips), "
                    "call by call %.1f ms (%llu round trips)%s\n",
                    links, load, snapshotMs, static_cast<unsigned long long>(snapshotCommands),
                    liveMs, static_cast<unsigned long long>(liveCommands),
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
        std::printf("%d links: link window filled and shown in %.1f ms (%d rows)\n", links,
                    windowMs, list ? list->topLevelItemCount() : -1);
    }
    browser.Close();
    server.stop();
    serving.join();
    return 0;
}
