#include "cli/SaveBrowser.h"

#include "browser/DevToolsBrowser.h"
#include "tools/Settings.h"

namespace larkspool {

namespace {

// The site's and the proxy's credentials answer the start page's
// challenges, as they do the download run's: over the DevTools pipe only,
// never on the browser's command line.
DevToolsBrowser::Options ChromiumOptions() {
    DevToolsBrowser::Options options;
    options.Site = {Settings.UserS, Settings.PassS,
                    "give them with --user and LARKSPOOL_PASSWORD (or --password)"};
    options.Proxy = {
        Settings.UserP, Settings.PassP,
        "give them with --proxy-user and LARKSPOOL_PROXY_PASSWORD (or --proxy-password)"};
    return options;
}

class ChromiumSaveBrowser : public SaveBrowser {
public:
    ChromiumSaveBrowser() : FBrowser(ChromiumOptions()) {}
    Variant Open(const std::string& Url) override { return FBrowser.Open(Url); }
    void AllowDownloads(const std::string& Folder) override { FBrowser.AllowDownloads(Folder); }
    bool WaitForDownloads(std::size_t Started, std::chrono::milliseconds Limit) override {
        return FBrowser.WaitForDownloads(Started, Limit);
    }
    std::string DownloadState(const std::string& Url) const override {
        return FBrowser.DownloadState(Url);
    }
    std::size_t DownloadsCompleted() const override { return FBrowser.DownloadsCompleted(); }
    void Close() override { FBrowser.Close(); }
    void LowerPriority() override { FBrowser.LowerPriority(); }
    void AddCookies(const std::vector<BrowserCookie>& Cookies) override {
        FBrowser.SetCookies(Cookies);
    }
    // The whole store: the run keeps those that fit its hosts.
    std::vector<BrowserCookie> Cookies(const std::vector<std::string>& /*Hosts*/) override {
        return FBrowser.Cookies();
    }

private:
    DevToolsBrowser FBrowser;
};

} // namespace

std::unique_ptr<SaveBrowser> StartChromium() {
    return std::make_unique<ChromiumSaveBrowser>();
}

} // namespace larkspool
