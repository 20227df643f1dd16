#pragma once

// What larkspool-save needs of a browser: the page's window, and the
// downloads of the files left to it. Headless Chromium serves the program;
// tests serve in-memory windows.

#include "browser/Variant.h"
#include "tools/Cookies.h"

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace larkspool {

class SaveBrowser {
public:
    virtual ~SaveBrowser() = default;

    // The window of the page at Url once it has loaded; raises with the
    // address and the reason when it does not.
    virtual Variant Open(const std::string& Url) = 0;
    // Navigations that turn into downloads store their files in Folder.
    virtual void AllowDownloads(const std::string& Folder) = 0;
    // Waits until at least Started downloads have begun and every begun one
    // has ended; false when Limit passes first.
    virtual bool WaitForDownloads(std::size_t Started, std::chrono::milliseconds Limit) = 0;
    // "inProgress", "completed", "canceled", or empty when none began.
    virtual std::string DownloadState(const std::string& Url) const = 0;
    virtual std::size_t DownloadsCompleted() const = 0;
    // Ends the browser; idempotent, and safe from any thread.
    virtual void Close() = 0;
    // The browser's own work gives way to the save's from now on.
    virtual void LowerPriority() {}
    // Cookies the browser sends from the start (before Open): a cookies
    // file's. Raises when the browser refuses them.
    virtual void AddCookies(const std::vector<BrowserCookie>& /*Cookies*/) {}
    // The browser's cookies for Hosts (those the page set too); it may give
    // more, as the run keeps only those that fit.
    virtual std::vector<BrowserCookie> Cookies(const std::vector<std::string>& /*Hosts*/) {
        return {};
    }
};

// Starts the browser for one save; raises when it cannot.
using SaveBrowserFactory = std::function<std::unique_ptr<SaveBrowser>()>;

// Headless Chromium (DevToolsBrowser).
std::unique_ptr<SaveBrowser> StartChromium();

} // namespace larkspool
