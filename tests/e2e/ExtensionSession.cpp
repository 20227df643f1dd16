// The browser's half of the end-to-end test of the add-on: starts headless
// Chromium with the extension loaded and the program registered as its
// native-messaging host (in the browser's own profile, with the given
// settings), opens the page, selects the first five list items, and presses
// the extension's toolbar button. Then it waits until DONE_FILE appears (the
// test has driven the program's windows by then), checks that the browser
// downloaded the file handed to it and that the extension's session ended
// without a failure, and closes the browser.
// With LARKSPOOL_LOGIN_URL set, the demo site's login form there is filled
// in and sent first. A page without list items is saved with nothing
// selected; DOWNLOADS_WANTED
// (1 when not given) is how many files the browser must have downloaded.
//   larkspool-extension-session EXTENSION_DIR HOST PAGE_URL SETTINGS_FILE DOWNLOADS DONE_FILE
//       [DOWNLOADS_WANTED]
#include "browser/DevToolsBrowser.h"

#include "support/Wait.h"

#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

using namespace larkspool;
using nlohmann::json;
namespace fs = std::filesystem;

namespace {

std::string ReadLine(const fs::path& Path) {
    std::ifstream in(Path);
    std::string line;
    std::getline(in, line);
    return line;
}

// The id of the first target of Type whose address begins with Prefix.
std::string FindTarget(DevToolsBrowser& Browser, const std::string& Type,
                       const std::string& Prefix) {
    const json targets =
        Browser.Command("Target.getTargets", {{"filter", json::array({{{"type", Type}}})}});
    for (const json& t : targets.value("targetInfos", json::array()))
        if (t.value("type", "") == Type && t.value("url", "").starts_with(Prefix))
            return t.value("targetId", "");
    return {};
}

// Each ask is a round trip to the browser: not too often.
constexpr std::chrono::milliseconds Poll(100);

} // namespace

int main(int argc, char** argv) {
    if (argc != 7 && argc != 8) {
        std::fprintf(stderr, "usage: larkspool-extension-session EXTENSION_DIR HOST PAGE_URL "
                             "SETTINGS_FILE DOWNLOADS DONE_FILE [DOWNLOADS_WANTED]\n");
        return 2;
    }
    const std::size_t downloadsWanted = argc == 8 ? std::stoul(argv[7]) : 1;
    const fs::path extension = fs::absolute(argv[1]);
    const std::string host = fs::absolute(argv[2]).string(), page = argv[3];
    const fs::path settings = argv[4], downloads = fs::absolute(argv[5]), done = argv[6];
    const std::string id = ReadLine(extension / "extension-id.txt");
    std::setvbuf(stdout, nullptr, _IOLBF, 0); // the test reads along
    try {
        DevToolsBrowser::Options options;
        options.ExtraFlags = {"--load-extension=" + extension.string()};
        options.Prepare = [&](const std::string& TempDir) {
            const fs::path hosts = fs::path(TempDir) / "profile" / "NativeMessagingHosts";
            fs::create_directories(hosts);
            std::ofstream(hosts / "larkspool.lsapp.json") << json{
                {"name", "larkspool.lsapp"},
                {"description", "Larkspool (end-to-end test)"},
                {"path", host},
                {"type", "stdio"},
                {"allowed_origins",
                 {"chrome-extension://" + id + "/"}}}.dump();
            // The program inherits the browser's XDG_CONFIG_HOME.
            const fs::path store = fs::path(TempDir) / "config" / "larkspool";
            fs::create_directories(store);
            fs::copy_file(settings, store / "registry.reg");
        };
        DevToolsBrowser browser(options);
        std::printf("browser started\n");
        fs::create_directories(downloads);
        browser.AllowDownloads(downloads.string());
        // Logged in first, as the user is: the form sets a session cookie
        // (HttpOnly, so only the browser's own store shows it).
        if (const char* login = std::getenv("LARKSPOOL_LOGIN_URL")) {
            const Variant form = browser.Open(login);
            browser.Evaluate(form, "document.querySelector('[name=user]').value = 'member';"
                                   "document.querySelector('[name=password]').value = 'larkspool';"
                                   "document.querySelector('form').submit(); true");
            const auto loggedIn = [&] {
                for (const BrowserCookie& cookie : browser.Cookies())
                    if (cookie.Name == "larkspool_member" && cookie.HttpOnly)
                        return true;
                return false;
            };
            if (!check::WaitFor(loggedIn, std::chrono::seconds(20), Poll))
                throw std::runtime_error("logging in set no session cookie");
            std::printf("logged in\n");
        }
        const Variant window = browser.Open(page);
        const std::string selected =
            browser
                .Evaluate(window,
                          "(() => { const items = document.querySelectorAll('li');"
                          " if (items.length < 5) return '';"
                          " const range = document.createRange();"
                          " range.setStartBefore(items[0]); range.setEndAfter(items[4]);"
                          " getSelection().removeAllRanges(); getSelection().addRange(range);"
                          " return getSelection().toString(); })()")
                .ToText();
        std::printf("selected: %s\n", selected.c_str());

        // The extension's service worker, once its listeners are in place:
        // the browser accepts a press of the button before that and drops
        // it, which a busy machine (the worker starting slowly) made happen.
        std::string worker, session;
        const auto evaluate = [&](const std::string& Expression) {
            return browser
                .Command("Runtime.evaluate", {{"expression", Expression}, {"returnByValue", true}},
                         session)
                .value("result", json::object())
                .value("value", json());
        };
        const bool listening = check::WaitFor(
            [&] {
                try {
                    if (session.empty()) {
                        worker = FindTarget(browser, "service_worker", "chrome-extension://" + id);
                        if (worker.empty())
                            return false;
                        session = browser
                                      .Command("Target.attachToTarget",
                                               {{"targetId", worker}, {"flatten", true}})
                                      .value("sessionId", "");
                    }
                    return evaluate("typeof chrome === 'object' && !!chrome.action &&"
                                    " chrome.action.onClicked.hasListeners()") == json(true);
                } catch (const std::exception&) {
                    session.clear(); // a worker that was replaced: look again
                    return false;
                }
            },
            std::chrono::seconds(120), Poll);
        if (!listening)
            throw std::runtime_error(
                "the extension's service worker never listened for the button");
        std::printf("extension ready\n");

        // The toolbar button, on the page's tab.
        const std::string tab = FindTarget(browser, "tab", page);
        const std::string target = FindTarget(browser, "page", page);
        if (tab.empty() || target.empty())
            throw std::runtime_error("the page's tab was not found");
        browser.Command("Target.activateTarget", {{"targetId", target}});
        std::string problem;
        const bool triggered = check::WaitFor(
            [&] {
                try {
                    browser.Command("Extensions.triggerAction", {{"id", id}, {"targetId", tab}});
                    return true;
                } catch (const std::exception& e) {
                    problem = e.what();
                    return false;
                }
            },
            std::chrono::seconds(10), Poll);
        if (!triggered)
            throw std::runtime_error("the extension's button could not be pressed: " + problem);
        std::printf("triggered\n");
        // The press reached the extension: a save began.
        if (!check::WaitFor(
                [&] { return evaluate("globalThis.larkspoolStartedSessions") == json(1); },
                std::chrono::seconds(30), Poll))
            throw std::runtime_error("the extension did not start a save for the button");
        std::printf("save started\n");

        if (!check::WaitFor([&] { return fs::exists(done); }, std::chrono::seconds(240), Poll))
            throw std::runtime_error("the test never finished with the windows");
        int failures = 0;
        if (downloadsWanted > 0 &&
            (!browser.WaitForDownloads(downloadsWanted, std::chrono::seconds(30)) ||
             browser.DownloadsCompleted() < downloadsWanted)) {
            std::printf("FAIL: the browser did not download the file handed to it\n");
            ++failures;
        }
        // How the extension's sessions ended, read in its service worker.
        // The program ends a moment after its windows close (longer under
        // the sanitizers); the session ends with it.
        std::string ended;
        check::WaitFor(
            [&] {
                ended = evaluate("JSON.stringify(globalThis.larkspoolEndedSessions)")
                            .get<std::string>();
                return ended != "[]";
            },
            std::chrono::seconds(30), Poll);
        std::printf("extension sessions ended: %s\n", ended.c_str());
        if (ended != "[null]") {
            std::printf("FAIL: the extension's session did not end cleanly\n");
            ++failures;
        }
        browser.Close();
        return failures == 0 ? 0 : 1;
    } catch (const std::exception& e) {
        std::printf("FAIL: %s\n", e.what());
        return 1;
    }
}
