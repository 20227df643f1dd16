#include "cli/SaveBrowser.h"

#include "browser/DevToolsBrowser.h"

namespace larkspool {

namespace {

class ChromiumSaveBrowser : public SaveBrowser {
public:
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
    std::vector<BrowserCookie> Cookies(const std::vector<std::string>& Hosts) override {
        return CookiesForHosts(FBrowser.Cookies(), Hosts);
    }

private:
    DevToolsBrowser FBrowser;
};

} // namespace

std::unique_ptr<SaveBrowser> StartChromium() {
    return std::make_unique<ChromiumSaveBrowser>();
}

} // namespace larkspool
