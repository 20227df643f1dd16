#include "browser/OfflineCheck.h"

#include "browser/DevToolsBrowser.h"
#include "browser/DevToolsConnection.h"
#include "platform/Descriptors.h"

#include <QString>
#include <QUrl>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <condition_variable>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <utility>

namespace larkspool {

namespace {

using nlohmann::json;
using Clock = std::chrono::steady_clock;
using Milliseconds = std::chrono::milliseconds;

// How often a wait looks at the browser, the time limit and Cancelled.
constexpr Milliseconds WaitSlice{100};

std::string DurationText(Milliseconds Duration) {
    if (Duration.count() % 1000 == 0)
        return std::to_string(Duration.count() / 1000) + " s";
    return std::to_string(Duration.count()) + " ms";
}

std::string SchemeOf(const std::string& Url) {
    const std::size_t colon = Url.find(':');
    if (colon == std::string::npos)
        return {};
    std::string scheme = Url.substr(0, colon);
    for (char& c : scheme)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return scheme;
}

// What a copy holds itself: its files, and what a page makes in memory.
bool IsLocal(const std::string& Url) {
    const std::string scheme = SchemeOf(Url);
    return scheme == "file" || scheme == "data" || scheme == "blob" || scheme == "about" ||
           scheme == "javascript" || scheme == "filesystem";
}

enum class Kind { Picture, StyleSheet, Font, Script, Frame, Other };

Kind KindOf(const std::string& Type) {
    if (Type == "Image")
        return Kind::Picture;
    if (Type == "Stylesheet")
        return Kind::StyleSheet;
    if (Type == "Font")
        return Kind::Font;
    if (Type == "Script")
        return Kind::Script;
    if (Type == "Document")
        return Kind::Frame;
    return Kind::Other;
}

// One request of the page, by session and request id (a redirect keeps the
// id, so the address asked for stays).
struct Request {
    std::string Url, Type;
    // Seen only as a paused request: the page's network events missed it
    // (the browser does not always report the first requests of a page that
    // moved into a new process), so its file is judged by whether it exists.
    bool PausedOnly = true;
    bool Finished = false, Failed = false, Canceled = false;
    int Status = 0;
    std::string Reason; // why it failed
};

// What the reading thread gathers about the page being checked.
struct PageState {
    std::mutex Lock;
    std::condition_variable Changed;
    std::string MainSession, MainFrame;
    std::set<std::string> Sessions; // the page's and its frames' of other processes
    std::map<std::string, Request> Requests;
    std::set<std::string> CutOff; // network request ids the check failed itself
    bool LoadFired = false;
    std::string Ended; // why the page went away
    Clock::time_point LastActivity = Clock::now();
};

std::string FailureReason(const json& Params) {
    if (const std::string blocked = Params.value("blockedReason", ""); !blocked.empty())
        return "blocked (" + blocked + ")";
    if (const auto cors = Params.find("corsErrorStatus"); cors != Params.end() && cors->is_object())
        return "blocked by the cross-origin rules (" + cors->value("corsError", "") + ")";
    std::string error = Params.value("errorText", "");
    if (error == "net::ERR_FILE_NOT_FOUND")
        return "file not found";
    if (error == "net::ERR_ACCESS_DENIED")
        return "the file cannot be read";
    if (error.starts_with("net::"))
        error.erase(0, 5);
    return error.empty() ? "it did not load" : error;
}

void Watch(DevToolsConnection& C, const std::string& Session) {
    C.Post("Network.enable", json::object(), Session);
    // Each page counts what it asks for, even what an earlier page loaded.
    C.Post("Network.setCacheDisabled", {{"cacheDisabled", true}}, Session);
    C.Post("Fetch.enable", {{"patterns", json::array({{{"urlPattern", "*"}}})}}, Session);
    C.Post("Target.setAutoAttach",
           {{"autoAttach", true}, {"waitForDebuggerOnStart", true}, {"flatten", true}}, Session);
}

// Runs on the connection's reading thread: answers what waits for an answer
// at once (paused requests, dialogs, new frames) and notes the rest.
void OnEvent(PageState& Page, DevToolsConnection& C, const std::string& Session,
             const std::string& Method, const json& Params) {
    if (Method == "Fetch.requestPaused") {
        const std::string id = Params.value("requestId", "");
        const std::string url = Params.value("request", json::object()).value("url", "");
        const std::string network = Params.value("networkId", "");
        {
            std::lock_guard lock(Page.Lock);
            const std::string type = Params.value("resourceType", "Other");
            if (Page.Sessions.contains(Session) &&
                !(Session == Page.MainSession && type == "Document" &&
                  Params.value("frameId", "") == Page.MainFrame)) {
                auto [request, added] = Page.Requests.try_emplace(
                    Session + " " + (network.empty() ? "paused " + id : network));
                if (added) {
                    request->second.Url = url;
                    request->second.Type = type;
                }
                Page.LastActivity = Clock::now();
            }
        }
        if (IsLocal(url)) {
            C.Post("Fetch.continueRequest", {{"requestId", id}}, Session);
        } else {
            {
                std::lock_guard lock(Page.Lock);
                Page.CutOff.insert(Session + " " + Params.value("networkId", ""));
            }
            C.Post("Fetch.failRequest",
                   {{"requestId", id}, {"errorReason", "InternetDisconnected"}}, Session);
        }
        return;
    }
    if (Method == "Page.javascriptDialogOpening") {
        C.Post("Page.handleJavaScriptDialog", {{"accept", true}}, Session);
        return;
    }
    std::lock_guard lock(Page.Lock);
    if (!Page.Sessions.contains(Session))
        return;
    if (Method == "Target.attachedToTarget") {
        // A frame of another process, or a worker: cut off as the page is.
        const std::string child = Params.value("sessionId", "");
        Page.Sessions.insert(child);
        Watch(C, child);
        C.Post("Runtime.runIfWaitingForDebugger", json::object(), child);
    } else if (Method == "Page.loadEventFired" && Session == Page.MainSession) {
        Page.LoadFired = true;
    } else if (Method == "Inspector.targetCrashed" && Session == Page.MainSession) {
        Page.Ended = "the page crashed";
    } else if (Method == "Network.requestWillBeSent") {
        const std::string key = Session + " " + Params.value("requestId", "");
        // The page's own document is what is checked, not one of its files.
        if (Session == Page.MainSession && Params.value("type", "") == "Document" &&
            Params.value("frameId", "") == Page.MainFrame)
            return;
        auto [request, added] = Page.Requests.try_emplace(key);
        if (added || request->second.PausedOnly) {
            request->second.Url = Params.value("request", json::object()).value("url", "");
            request->second.Type = Params.value("type", "Other");
            request->second.PausedOnly = false;
        }
    } else if (Method == "Network.responseReceived") {
        const auto request = Page.Requests.find(Session + " " + Params.value("requestId", ""));
        if (request != Page.Requests.end())
            request->second.Status = Params.value("response", json::object()).value("status", 0);
    } else if (Method == "Network.loadingFinished") {
        const auto request = Page.Requests.find(Session + " " + Params.value("requestId", ""));
        if (request != Page.Requests.end())
            request->second.Finished = true;
    } else if (Method == "Network.loadingFailed") {
        const std::string key = Session + " " + Params.value("requestId", "");
        const auto request = Page.Requests.find(key);
        if (request != Page.Requests.end()) {
            request->second.Finished = request->second.Failed = true;
            // Given up by the page itself (a picture replaced, a frame gone):
            // nothing the copy lacks.
            request->second.Canceled =
                Params.value("canceled", false) && !Page.CutOff.contains(key);
            request->second.Reason =
                Page.CutOff.contains(key) ? "needs the network" : FailureReason(Params);
        }
    } else {
        return;
    }
    Page.LastActivity = Clock::now();
    Page.Changed.notify_all();
}

// A port on 127.0.0.1 that is bound but never listens: as the browser's
// proxy, it refuses every connection, and no other program can take it
// while the check holds it.
UniqueFd ClosedPort(int& Port) {
    UniqueFd s(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (!s.IsOpen() || ::bind(s.Get(), reinterpret_cast<sockaddr*>(&address), size) != 0 ||
        ::getsockname(s.Get(), reinterpret_cast<sockaddr*>(&address), &size) != 0)
        return UniqueFd();
    Port = ntohs(address.sin_port);
    return s;
}

struct Counted {
    bool Loaded = false;
    std::string Reason;
};

class Checker {
public:
    Checker(std::string Folder, const OfflineCheckOptions& Options)
        : FFolder(std::move(Folder)), FOptions(Options) {
        std::vector<std::string> flags{"--allow-file-access-from-files"};
        int port = 0;
        FProxyPort = ClosedPort(port);
        if (FProxyPort.IsOpen())
            flags.insert(flags.end(), {"--proxy-server=http://127.0.0.1:" + std::to_string(port),
                                       "--proxy-bypass-list=<-loopback>"});
        FConnection = std::make_shared<DevToolsConnection>(
            Options.ChromiumPath.empty() ? DevToolsBrowser::DefaultChromiumPath()
                                         : Options.ChromiumPath,
            Milliseconds(30000), flags);
        FConnection->Command("Browser.setDownloadBehavior", {{"behavior", "deny"}});
        FConnection->SetEventHandler(
            [page = FPage, connection = FConnection.get()](
                const std::string& Session, const std::string& Method, const json& Params) {
                OnEvent(*page, *connection, Session, Method, Params);
            });
    }
    ~Checker() {
        FConnection->SetEventHandler({});
        FConnection->Close();
    }

    bool Cancelled() const { return FOptions.Cancelled && FOptions.Cancelled(); }

    OfflinePage Check(const std::string& File, OfflineReport& Report) {
        OfflinePage result{File, {}};
        const std::filesystem::path path = std::filesystem::path(File).is_absolute()
                                               ? std::filesystem::path(File)
                                               : std::filesystem::path(FFolder) / File;
        std::error_code error;
        if (!std::filesystem::is_regular_file(path, error)) {
            result.Problems.push_back({"", "the page's file is not there"});
            return result;
        }
        const std::string url =
            QUrl::fromLocalFile(QString::fromStdString(path.string())).toString().toStdString();
        DevToolsConnection& c = *FConnection;
        std::string targetId;
        try {
            targetId =
                c.Command("Target.createTarget", {{"url", "about:blank"}}).value("targetId", "");
            const std::string session =
                c.Command("Target.attachToTarget", {{"targetId", targetId}, {"flatten", true}})
                    .value("sessionId", "");
            {
                std::lock_guard lock(FPage->Lock);
                FPage->Requests.clear();
                FPage->CutOff.clear();
                FPage->LoadFired = false;
                FPage->Ended.clear();
                FPage->LastActivity = Clock::now();
                FPage->MainSession = session;
                FPage->MainFrame = targetId; // a tab's main frame has the tab's id
                FPage->Sessions.insert(session);
            }
            c.Command("Page.enable", json::object(), session);
            Watch(c, session);
            const json navigated = c.Command("Page.navigate", {{"url", url}}, session);
            if (const std::string failed = navigated.value("errorText", ""); !failed.empty())
                result.Problems.push_back({"", "the page did not open: " + failed});
            else
                WaitForPage(result);
        } catch (const DevToolsError& e) {
            result.Problems.push_back({"", std::string("the check failed: ") + e.what()});
        }
        if (!targetId.empty())
            c.Post("Target.closeTarget", {{"targetId", targetId}});
        std::map<std::string, Request> requests;
        {
            std::lock_guard lock(FPage->Lock);
            requests = std::move(FPage->Requests);
            FPage->Requests.clear();
            FPage->Sessions.clear();
        }
        Tally(requests, result, Report);
        return result;
    }

private:
    void WaitForPage(OfflinePage& Result) {
        const auto deadline = Clock::now() + FOptions.PageTimeout;
        std::unique_lock lock(FPage->Lock);
        for (;;) {
            if (!FPage->Ended.empty()) {
                Result.Problems.push_back({"", FPage->Ended});
                return;
            }
            const bool busy =
                std::any_of(FPage->Requests.begin(), FPage->Requests.end(), [](const auto& R) {
                    return !R.second.PausedOnly && !R.second.Finished;
                });
            const auto now = Clock::now();
            if (FPage->LoadFired && !busy && now - FPage->LastActivity >= FOptions.QuietTime)
                return;
            if (now >= deadline) {
                Result.Problems.push_back(
                    {"", (FPage->LoadFired ? "it kept loading for " : "it did not load within ") +
                             DurationText(FOptions.PageTimeout)});
                return;
            }
            if (!FConnection->IsOpen())
                throw DevToolsError("the browser has exited");
            if (Cancelled()) {
                Result.Problems.push_back({"", "the check was stopped"});
                return;
            }
            FPage->Changed.wait_until(lock, std::min(deadline, now + WaitSlice));
        }
    }

    static bool LocalFileThere(const std::string& Url) {
        if (SchemeOf(Url) != "file")
            return true; // made by the page itself
        std::error_code error;
        return std::filesystem::is_regular_file(
            QUrl(QString::fromStdString(Url)).toLocalFile().toStdString(), error);
    }

    // A file of the checked folder by its name there; anything else as asked.
    std::string Shown(const std::string& Url) const {
        if (SchemeOf(Url) != "file")
            return Url;
        const std::filesystem::path path =
            QUrl(QString::fromStdString(Url)).toLocalFile().toStdString();
        const std::filesystem::path relative = path.lexically_relative(FFolder);
        if (relative.empty() || relative.native().starts_with(".."))
            return Url;
        return relative.string();
    }

    void Tally(const std::map<std::string, Request>& Requests, OfflinePage& Result,
               OfflineReport& Report) const {
        // One count per kind and address: a picture shown twice is one file.
        std::map<std::pair<Kind, std::string>, Counted> counted;
        for (const auto& [key, request] : Requests) {
            if (request.Canceled || request.Url.empty())
                continue;
            Counted now;
            if (!IsLocal(request.Url))
                now.Reason = request.Failed || request.PausedOnly ? "needs the network"
                                                                  : "loaded from the network";
            else if (request.PausedOnly)
                now.Reason = LocalFileThere(request.Url) ? "" : "file not found";
            else if (request.Failed)
                now.Reason = request.Reason;
            else if (!request.Finished)
                now.Reason = "still loading when the check moved on";
            else if (request.Status >= 400)
                now.Reason = "answered " + std::to_string(request.Status);
            now.Loaded = now.Reason.empty();
            auto [entry, added] = counted.try_emplace({KindOf(request.Type), request.Url}, now);
            // Loaded once is loaded.
            if (!added && now.Loaded)
                entry->second = now;
        }
        for (const auto& [what, outcome] : counted) {
            OfflineTally& tally = TallyOf(Report, what.first);
            ++tally.Total;
            if (outcome.Loaded)
                ++tally.Loaded;
            else
                Result.Problems.push_back({Shown(what.second), outcome.Reason});
        }
    }

    static OfflineTally& TallyOf(OfflineReport& Report, Kind K) {
        switch (K) {
        case Kind::Picture:
            return Report.Pictures;
        case Kind::StyleSheet:
            return Report.StyleSheets;
        case Kind::Font:
            return Report.Fonts;
        case Kind::Script:
            return Report.Scripts;
        case Kind::Frame:
            return Report.Frames;
        case Kind::Other:
            break;
        }
        return Report.Other;
    }

    const std::filesystem::path FFolder;
    const OfflineCheckOptions& FOptions;
    UniqueFd FProxyPort;
    std::shared_ptr<PageState> FPage = std::make_shared<PageState>();
    std::shared_ptr<DevToolsConnection> FConnection;
};

std::string Count(const OfflineTally& Tally, const char* What) {
    return GroupedNumber(Tally.Loaded) + " of " + GroupedNumber(Tally.Total) + " " + What;
}

} // namespace

std::string GroupedNumber(long long Value) {
    std::string digits = std::to_string(Value < 0 ? -Value : Value);
    for (std::size_t i = digits.size(); i > 3; i -= 3)
        digits.insert(i - 3, ",");
    return (Value < 0 ? "-" : "") + digits;
}

int OfflineReport::Missing() const {
    int missing = 0;
    for (const OfflinePage& page : Pages)
        missing += static_cast<int>(page.Problems.size());
    return missing;
}

std::string OfflineReport::SummaryLine() const {
    std::string line = "Checked offline: " + Count(Pictures, "pictures") + ", " +
                       Count(StyleSheets, "style sheets");
    const std::pair<const OfflineTally*, const char*> optional[] = {
        {&Fonts, "fonts"}, {&Scripts, "scripts"}, {&Frames, "frames"}, {&Other, "other files"}};
    for (const auto& [tally, what] : optional)
        if (tally->Total != 0)
            line += ", " + Count(*tally, what);
    return line + ", " + GroupedNumber(Missing()) + " missing";
}

OfflineReport CheckCopyOffline(const std::string& Folder, const std::vector<std::string>& PageFiles,
                               const OfflineCheckOptions& Options) {
    OfflineReport report;
    std::filesystem::path folder = std::filesystem::absolute(Folder).lexically_normal();
    if (folder.filename().empty()) // a trailing "/"
        folder = folder.parent_path();
    Checker checker(folder.string(), Options);
    for (std::size_t i = 0; i < PageFiles.size() && !checker.Cancelled(); ++i) {
        if (Options.Progress)
            Options.Progress(i, PageFiles.size(), PageFiles[i]);
        report.Pages.push_back(checker.Check(PageFiles[i], report));
    }
    if (Options.Progress)
        Options.Progress(report.Pages.size(), PageFiles.size(), {});
    return report;
}

} // namespace larkspool
