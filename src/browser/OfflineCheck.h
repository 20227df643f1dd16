#pragma once

// Whether a saved copy works offline: every saved page is opened from the
// folder in headless Chromium with the network cut off, and every file the
// page asks for while it loads is counted, by kind, as loaded or not, with
// the reason why not ("needs the network", "file not found", ...).
//
// The network is cut twice: each request for anything but a local file is
// failed by the check itself as it is paused (DevTools Fetch domain), and
// the browser's proxy is a port of ours where nothing listens, so a request
// the interception does not see (a window the page opens) still reaches no
// server. A resource from the network never counts as loaded.
//
// One browser serves the whole check; each page gets a tab of its own, which
// is closed before the next page. A page is done when it has fired its load
// event and its requests have been quiet for a moment; one that does not get
// there within the page time limit is reported and the check goes on.

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace larkspool {

struct OfflineProblem {
    // The address as the page asked for it; a file inside the checked folder
    // by its name relative to the folder. Empty for a problem of the page
    // itself (it did not load, it did not settle).
    std::string Resource;
    std::string Reason;
};

struct OfflinePage {
    std::string File; // as given to the check
    std::vector<OfflineProblem> Problems;
};

struct OfflineTally {
    int Loaded = 0, Total = 0;
};

struct OfflineReport {
    std::vector<OfflinePage> Pages;
    // Each distinct address counts once per page that asks for it. The
    // page's own document does not count; a frame's does, under Frames.
    OfflineTally Pictures, StyleSheets, Fonts, Scripts, Frames, Other;
    // Every problem of every page: what would not load, and pages that
    // could not be checked whole.
    int Missing() const;
    // "Checked offline: 30 of 31 pictures, 4 of 4 style sheets, 2 of 2 fonts,
    // 1 missing": pictures and style sheets always, the other kinds when the
    // pages asked for any.
    std::string SummaryLine() const;
};

struct OfflineCheckOptions {
    // Empty: DevToolsBrowser::DefaultChromiumPath().
    std::string ChromiumPath;
    // How long one page may take to load and settle.
    std::chrono::milliseconds PageTimeout{15000};
    // How long the requests must have been quiet for a loaded page to be done.
    std::chrono::milliseconds QuietTime{300};
    // Called before each page (Done pages checked so far, of Count) and once
    // at the end with Done == Count and File empty; on the checking thread.
    std::function<void(std::size_t Done, std::size_t Count, const std::string& File)> Progress;
    // Asked while the check waits; true ends it early, with the pages
    // checked so far.
    std::function<bool()> Cancelled;
};

// Checks PageFiles (names relative to Folder, or absolute paths) in the
// order given. A browser that cannot be started raises a DevToolsError; a
// page that fails in any other way is reported as its problem.
OfflineReport CheckCopyOffline(const std::string& Folder, const std::vector<std::string>& PageFiles,
                               const OfflineCheckOptions& Options);

// 1422 -> "1,422".
std::string GroupedNumber(long long Value);

} // namespace larkspool
