#pragma once

// Pages in headless Chromium, reached through the late-bound object
// interface: the command line's saves and the end-to-end tests use it.
//
// Open loads a page in a new tab and returns its window. Every object handed
// out is a handle to a live JavaScript object in that page; a Get, Call or Put
// runs one small function on it in the page, which looks the member up by
// name without regard to ASCII case and applies the old browser's shims:
//   document.selection.createRange().text  the window's selection text
//   frames.item(i)                         frames[i]
//   all.item(i, 0)                         all[i] (the second argument is ignored)
//   a Location's default value             its href
// Reading a member that holds a function calls it without arguments, as the
// automation interface did (createRange).
//
// The window Open returns answers the reads a save makes from one snapshot
// of each frame, taken in the page in one call (PageSnapshot.h); other reads,
// and every write, are such calls.
//
// A window handed out (a frame, a parent) is a handle in that frame's own
// context, so a frame whose page comes from another origin, in this process
// or in another one, reads as any page. Only a frame that cannot be reached
// at all keeps a handle in the page that handed it out: it refuses its
// document with a DispatchError, and its location gives the address its
// frame element holds.
//
// A tab stays open while any object of its page is alive; the browser itself
// until the DevToolsBrowser is closed or destroyed. Objects that outlive the
// browser raise DispatchErrors.

#include "browser/Variant.h"

#include "tools/Cookies.h"

#include <nlohmann/json.hpp>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <sys/types.h>
#include <vector>

namespace larkspool {

class DevToolsConnection;
struct AuthChallenges;

class DevToolsBrowser {
public:
    // A user name and password for HTTP authentication (Basic, Digest, and
    // whatever else the browser speaks).
    struct Credentials {
        std::string User, Password;
        // How the caller's user gives them ("give them with --user ..."),
        // added to Open's failure when a page asks and none were given.
        std::string Hint;
        bool Given() const { return !User.empty() || !Password.empty(); }
    };

    struct Options {
        // Empty: $LARKSPOOL_CHROMIUM when set, else /usr/lib/chromium/chromium.
        std::string ChromiumPath;
        // A browser that does not answer one command within this time is an error.
        std::chrono::milliseconds CommandTimeout{30000};
        // Open's limit for the page and its frames to finish loading.
        std::chrono::milliseconds LoadTimeout{30000};
        // Where a navigation that turns into a download stores its file;
        // empty refuses downloads, so nothing lands in ~/Downloads.
        std::string DownloadFolder;
        // Further command-line switches for the browser.
        std::vector<std::string> ExtraFlags;
        // Called with the browser's temporary folder before it starts: the
        // profile is TempDir/profile, its XDG_CONFIG_HOME TempDir/config.
        std::function<void(const std::string& TempDir)> Prepare;
        // Answers to the authentication challenges of the pages Open loads
        // and of their frames: Site for a server's (HTTP 401), Proxy for a
        // proxy's (407). They reach the browser only over the DevTools pipe.
        // Each challenge is answered once per request; a server that asks
        // again has refused them, and Open fails saying so.
        Credentials Site, Proxy;
    };

    // Starts the browser. A missing or broken program raises a DevToolsError
    // "Cannot start the browser PATH: reason".
    DevToolsBrowser();
    explicit DevToolsBrowser(Options Settings);
    // Closes the browser (see Close).
    ~DevToolsBrowser();
    DevToolsBrowser(const DevToolsBrowser&) = delete;
    DevToolsBrowser& operator=(const DevToolsBrowser&) = delete;

    // Loads Url in a new tab and returns the tab's window object once the
    // page and all its frames have loaded. A navigation error, a page that
    // does not load in time, or an answer with an error status (400 and up,
    // after redirects) raises a DevToolsError naming the address and the
    // reason ("the page answered HTTP 404 Not Found").
    Variant Open(const std::string& Url);
    Variant Open(const std::string& Url, std::chrono::milliseconds LoadTimeout);

    // Runs a JavaScript expression in the main frame of the page Window
    // belongs to and returns its value as Get would (tests set a selection
    // with it). An exception in the page raises a DispatchError.
    Variant Evaluate(const Variant& Window, const std::string& Expression);

    // A DevTools command on the browser (SessionId empty) or on a session
    // attached to a target; for tests that drive the browser itself.
    nlohmann::json Command(const std::string& Method, const nlohmann::json& Params = {},
                           const std::string& SessionId = {});

    // Cookies for the browser's store, as if sites had set them; pages
    // opened afterwards (and their frames and pictures) get them.
    void SetCookies(const std::vector<BrowserCookie>& Cookies);
    // Every cookie in the browser's store, HttpOnly ones too.
    std::vector<BrowserCookie> Cookies();

    // How many commands went to the browser and were answered so far: the
    // round trips, for tests and benchmarks of the reading.
    std::uint64_t CommandsSent() const;

    // Lets navigations that turn into downloads store their files in Folder
    // from now on, and counts those downloads.
    void AllowDownloads(const std::string& Folder);
    // Downloads begun, and those that ended (completed or canceled), since
    // downloads were allowed.
    std::size_t DownloadsStarted() const;
    std::size_t DownloadsCompleted() const;
    std::size_t DownloadsCanceled() const;
    // The last state of the download of Url: "inProgress", "completed" or
    // "canceled"; empty when no download of it began.
    std::string DownloadState(const std::string& Url) const;
    // Waits until at least Started downloads have begun and every begun one
    // has ended; false when Limit passes first.
    bool WaitForDownloads(std::size_t Started, std::chrono::milliseconds Limit);

    // Asks the browser to quit and kills its process group when it does not
    // within a few seconds; removes its temporary folders. Idempotent, and
    // safe from any thread.
    void Close();
    bool IsOpen() const;

    // The browser's process id (and process group id), kept after Close.
    pid_t ProcessId() const;
    // From now on every process of the browser, and those it starts later,
    // runs at the lowest priority: its own background work (which goes on for
    // seconds after it starts) gives way to the caller's. Cannot be undone.
    void LowerPriority();
    const std::string& ChromiumPath() const;

    // $LARKSPOOL_CHROMIUM when set, else /usr/lib/chromium/chromium.
    static std::string DefaultChromiumPath();

private:
    // HTTP authentication (see Options::Site): answering the browser's
    // challenges on the connection's reading thread, asking for them on a
    // tab's session, and the failure to raise for what was refused.
    void AnswerChallenges();
    void AskForChallenges(const std::string& SessionId);
    void CheckChallenges(const std::string& SessionId, const std::string& MainFrameId) const;
    std::string CredentialsAsked(const nlohmann::json& Response) const;

    Options FOptions;
    std::shared_ptr<DevToolsConnection> FConnection;
    std::shared_ptr<AuthChallenges> FChallenges; // null when no credentials were given
};

} // namespace larkspool
