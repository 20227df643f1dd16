// Tells whether a saved copy of a page looks like the page did on its server
// and needs nothing from the network. Two steps, since the server has to be
// stopped between them:
//
//   larkspool-visual-check live URL OUT_DIR
//     loads the page from its server in headless Chromium at a fixed window
//     size, waits until it is loaded, its fonts are ready and no request has
//     started or ended for a while, and writes OUT_DIR/live.png and
//     OUT_DIR/live.txt: every resource the page and its frames loaded, one
//     "TYPE<TAB>ok|failed<TAB>URL" a line (frames' documents count, the page's
//     own document does not; site icons count as "Icon").
//   larkspool-visual-check offline COPY_FILE OUT_DIR [--tolerance PERCENT]
//     opens the saved file from disk the same way with the network cut off
//     (every http and https request fails), writes offline.png and
//     offline.txt, and compares: the share of pixels that differ must stay
//     within PERCENT (default 0.1; a failure writes diff.png with the
//     differing pixels in red), and each kind of resource (style sheets,
//     pictures, fonts, scripts, frames' documents, icons) loaded live must
//     have been loaded as often from local files (a script kept inert in a
//     page written from the live document counts when its file is there).
//     Whatever the copy asked the
//     network for, local files it names but lacks, and files it takes from
//     outside the saved file's folder are failures.
//
// Prints what it found, FAIL lines for each failure; exit 0 when the copy
// passes, 1 when it does not, 2 on bad arguments, 3 when the browser or the
// page could not be driven.
#include "browser/DevToolsBrowser.h"
#include "browser/DevToolsConnection.h"

#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QString>
#include <QUrl>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

using namespace larkspool;
using nlohmann::json;
namespace fs = std::filesystem;

namespace {

using Clock = DevToolsConnection::Clock;
using Milliseconds = std::chrono::milliseconds;

constexpr int ViewWidth = 1000;
constexpr int ViewHeight = 800;
// A pixel counts as different when one of its channels differs by more.
constexpr int ChannelThreshold = 16;
// How long nothing may happen on the network before the page counts as idle.
constexpr Milliseconds QuietTime{500};
constexpr Milliseconds SettleLimit{30000};

struct Resource {
    std::string Type, Url;
    bool Failed = false;
};

class CheckError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

bool IsNetwork(const std::string& Url) {
    return Url.rfind("http://", 0) == 0 || Url.rfind("https://", 0) == 0;
}

bool IsLocal(const std::string& Url) {
    return Url.rfind("file://", 0) == 0;
}

// Addresses that load nothing from anywhere.
bool IsInline(const std::string& Url) {
    return Url.empty() || Url.rfind("data:", 0) == 0 || Url.rfind("blob:", 0) == 0 ||
           Url.rfind("about:", 0) == 0 || Url.rfind("chrome-error:", 0) == 0;
}

// The file a file:// address names (percent-escapes decoded, no query or
// fragment).
fs::path LocalPath(std::string Url) {
    Url = Url.substr(7);
    Url = Url.substr(0, Url.find_first_of("?#"));
    std::string path;
    for (std::size_t i = 0; i < Url.size(); ++i) {
        if (Url[i] == '%' && i + 2 < Url.size() && std::isxdigit(Url[i + 1]) &&
            std::isxdigit(Url[i + 2])) {
            path += static_cast<char>(std::stoi(Url.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            path += Url[i];
        }
    }
    return path;
}

// The last part of an address's path, in lower case: a hint for which saved
// file stands for which live resource.
std::string BaseName(const std::string& Url) {
    std::string path = Url.substr(0, Url.find_first_of("?#"));
    path = path.substr(path.find_last_of('/') + 1);
    std::transform(path.begin(), path.end(), path.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return path;
}

// One tab of our own browser, set up before its page is loaded.
class Tab {
public:
    Tab(DevToolsConnection& Connection, bool Offline) : FConnection(Connection) {
        const json target = Command("Target.createTarget", {{"url", "about:blank"}}, false);
        FTargetId = target.value("targetId", "");
        FSession =
            Command("Target.attachToTarget", {{"targetId", FTargetId}, {"flatten", true}}, false)
                .value("sessionId", "");
        FConnection.WatchSession(FSession);
        Command("Page.enable");
        Command("Network.enable");
        Command("Emulation.setDeviceMetricsOverride", {{"width", ViewWidth},
                                                       {"height", ViewHeight},
                                                       {"deviceScaleFactor", 1},
                                                       {"mobile", false}});
        if (Offline) {
            // Every http and https request of the tab, its frames'
            // documents too, fails as without a network; the resources
            // still list them, failed. (A block list would hide them.)
            Command("Network.emulateNetworkConditions", {{"offline", true},
                                                         {"latency", 0},
                                                         {"downloadThroughput", -1},
                                                         {"uploadThroughput", -1}});
        }
    }
    ~Tab() {
        FConnection.ForgetSession(FSession);
        FConnection.Post("Target.closeTarget", {{"targetId", FTargetId}});
    }
    Tab(const Tab&) = delete;
    Tab& operator=(const Tab&) = delete;

    json Command(const std::string& Method, const json& Params = json::object(),
                 bool InSession = true) {
        return FConnection.Command(Method, Params, InSession ? FSession : std::string());
    }

    // Loads Url and waits until it has settled (see the file's comment).
    void Load(const std::string& Url) {
        const auto deadline = Clock::now() + SettleLimit;
        const std::uint64_t loads = FConnection.EventCount(FSession, "Page.loadEventFired");
        const json navigated = Command("Page.navigate", {{"url", Url}});
        if (const std::string error = navigated.value("errorText", ""); !error.empty())
            throw CheckError("cannot open " + Url + ": " + error);
        if (!FConnection.WaitForEvent(FSession, "Page.loadEventFired", loads, deadline))
            throw CheckError(Url + " did not finish loading within 30 s");
        // An error page of the server is not the page to compare with.
        const std::string frame = navigated.value("frameId", "");
        for (const json& response : FConnection.Events(FSession, "Network.responseReceived")) {
            const int status = response.value("response", json::object()).value("status", 0);
            if (response.value("frameId", "") == frame && status >= 400)
                throw CheckError(Url + " answered HTTP " + std::to_string(status));
        }
        std::uint64_t lastEvents = NetworkEvents();
        auto quietSince = Clock::now();
        for (;;) {
            const std::string unready = UnreadyFrames();
            const std::uint64_t events = NetworkEvents();
            if (events != lastEvents) {
                lastEvents = events;
                quietSince = Clock::now();
            } else if (unready.empty() && Clock::now() - quietSince >= QuietTime) {
                break;
            }
            if (Clock::now() >= deadline)
                throw CheckError(Url + " did not settle within 30 s" +
                                 (unready.empty() ? "" : ": " + unready));
            std::this_thread::sleep_for(Milliseconds(100));
        }
        // Two frames drawn after everything arrived.
        Command("Runtime.evaluate",
                {{"expression", "new Promise(done => requestAnimationFrame(() => "
                                "requestAnimationFrame(() => done(true))))"},
                 {"awaitPromise", true}});
    }

    QImage Screenshot() {
        const json shot = Command("Page.captureScreenshot", {{"format", "png"}});
        const QByteArray png =
            QByteArray::fromBase64(QByteArray::fromStdString(shot.value("data", "")));
        QImage image;
        if (!image.loadFromData(png, "PNG"))
            throw CheckError("the browser's screenshot is not a PNG picture");
        return image;
    }

    // What the page and its frames loaded, from the browser's list of each
    // frame's resources, and the icons their documents name. Frames this
    // tab's process does not hold (another site's, or the browser's error
    // page for one that failed) have no list here: their documents count by
    // the address their frame element gives.
    std::vector<Resource> Resources() {
        std::vector<Resource> found;
        const json tree = Command("Page.getResourceTree").value("frameTree", json::object());
        std::multiset<std::string> held;
        AddResources(tree, true, found, held);
        for (const std::string& frame : FrameIds(tree)) {
            const json named = EvaluateInFrame(
                frame, "({icons: [...document.querySelectorAll('link[rel~=icon i]')]"
                       ".map(l => l.href), frames: [...document.querySelectorAll('iframe, "
                       "frame')].map(f => f.src), inert: [...document.querySelectorAll("
                       "'script[type=\"text/x-larkspool-inert\"][src]')].map(s => s.src)})");
            if (!named.is_object())
                continue;
            for (const json& icon : named.value("icons", json::array())) {
                const std::string url = icon.is_string() ? icon.get<std::string>() : "";
                if (!IsInline(url))
                    found.push_back(
                        {"Icon", url, IsLocal(url) && !fs::is_regular_file(LocalPath(url))});
            }
            // Pages written from the live document keep their scripts
            // inert (they already ran): such a script is not loaded, and
            // counts when its file is in the copy.
            for (const json& script : named.value("inert", json::array())) {
                const std::string url = script.is_string() ? script.get<std::string>() : "";
                if (!IsInline(url))
                    found.push_back(
                        {"Script", url, IsLocal(url) && !fs::is_regular_file(LocalPath(url))});
            }
            for (const json& element : named.value("frames", json::array())) {
                const std::string url = element.is_string() ? element.get<std::string>() : "";
                if (IsInline(url))
                    continue;
                if (const auto same = held.find(url); same != held.end())
                    held.erase(same);
                else // a local file should have loaded in this process
                    found.push_back({"Document", url, IsLocal(url)});
            }
        }
        return found;
    }

private:
    std::uint64_t NetworkEvents() const {
        std::uint64_t sum = 0;
        for (const char* method :
             {"Network.requestWillBeSent", "Network.loadingFinished", "Network.loadingFailed"})
            sum += FConnection.EventCount(FSession, method);
        return sum;
    }

    static std::vector<std::string> FrameIds(const json& Tree) {
        std::vector<std::string> ids{Tree.value("frame", json::object()).value("id", "")};
        for (const json& child : Tree.value("childFrames", json::array()))
            for (std::string& id : FrameIds(child))
                ids.push_back(std::move(id));
        return ids;
    }

    // Runs Expression (its promise awaited) in a world of our own in the
    // frame, so that frames of every origin can be asked; null when the frame
    // cannot be.
    json EvaluateInFrame(const std::string& FrameId, const std::string& Expression) {
        try {
            const std::int64_t context =
                Command("Page.createIsolatedWorld",
                        {{"frameId", FrameId}, {"worldName", "larkspool-visual-check"}})
                    .value("executionContextId", std::int64_t{0});
            const json result = Command("Runtime.evaluate", {{"expression", Expression},
                                                             {"contextId", context},
                                                             {"awaitPromise", true},
                                                             {"returnByValue", true}});
            if (result.contains("exceptionDetails"))
                return nullptr;
            return result.value("result", json::object()).value("value", json());
        } catch (const DevToolsError&) {
            return nullptr; // the frame went away meanwhile
        }
    }

    // The frames still loading a document, fonts or pictures; empty when
    // none.
    std::string UnreadyFrames() {
        std::string unready;
        for (const std::string& frame : FrameIds(Command("Page.getFrameTree")["frameTree"])) {
            const json state = EvaluateInFrame(
                frame, "document.fonts.ready.then(() => [document.readyState, "
                       "document.fonts.status, [...document.images].every(i => i.complete)]"
                       ".join(' '))");
            if (state.is_string() && state.get<std::string>() == "complete loaded true")
                continue;
            unready += (unready.empty() ? "" : ", ") + std::string("frame ") + frame + " (" +
                       (state.is_string() ? state.get<std::string>() : "gone") + ")";
        }
        return unready;
    }

    // Held: the addresses of the frames' documents found, for Resources.
    static void AddResources(const json& Tree, bool Top, std::vector<Resource>& Found,
                             std::multiset<std::string>& Held) {
        const json frame = Tree.value("frame", json::object());
        if (!Top) {
            // A frame whose document failed shows an error page instead.
            const std::string unreachable = frame.value("unreachableUrl", "");
            const std::string url = unreachable.empty() ? frame.value("url", "") : unreachable;
            Held.insert(url);
            if (!IsInline(url))
                Found.push_back({"Document", url, !unreachable.empty()});
        }
        for (const json& r : Tree.value("resources", json::array())) {
            const std::string type = r.value("type", "Other");
            const std::string url = r.value("url", "");
            if (type == "Document" || IsInline(url))
                continue; // the frame's own document, counted above
            Found.push_back({type, url, r.value("failed", false) || r.value("canceled", false)});
        }
        for (const json& child : Tree.value("childFrames", json::array()))
            AddResources(child, false, Found, Held);
    }

    DevToolsConnection& FConnection;
    std::string FTargetId, FSession;
};

struct Measurement {
    QImage Picture;
    std::vector<Resource> Resources;
};

Measurement Measure(const std::string& Url, bool Offline) {
    // The same switches for both steps, so that both draw alike.
    DevToolsConnection browser(
        DevToolsBrowser::DefaultChromiumPath(), Milliseconds(30000),
        {"--hide-scrollbars", "--force-color-profile=srgb", "--force-device-scale-factor=1"});
    browser.Command("Browser.setDownloadBehavior", {{"behavior", "deny"}});
    Measurement m;
    {
        Tab tab(browser, Offline);
        tab.Load(Url);
        m.Picture = tab.Screenshot();
        m.Resources = tab.Resources();
    }
    browser.Close();
    std::sort(m.Resources.begin(), m.Resources.end(), [](const Resource& a, const Resource& b) {
        return std::tie(a.Type, a.Url) < std::tie(b.Type, b.Url);
    });
    return m;
}

void WriteMeasurement(const Measurement& M, const fs::path& Folder, const std::string& Name) {
    fs::create_directories(Folder);
    const fs::path picture = Folder / (Name + ".png");
    if (!M.Picture.save(QString::fromStdString(picture.string()), "PNG"))
        throw CheckError("cannot write " + picture.string());
    std::ofstream list(Folder / (Name + ".txt"));
    for (const Resource& r : M.Resources)
        list << r.Type << '\t' << (r.Failed ? "failed" : "ok") << '\t' << r.Url << '\n';
    if (!list.flush())
        throw CheckError("cannot write " + (Folder / (Name + ".txt")).string());
}

std::vector<Resource> ReadList(const fs::path& File) {
    std::ifstream in(File);
    if (!in)
        throw CheckError("cannot read " + File.string() + " (run the live step first)");
    std::vector<Resource> list;
    std::string line;
    while (std::getline(in, line)) {
        const std::size_t tab1 = line.find('\t');
        const std::size_t tab2 = line.find('\t', tab1 + 1);
        if (tab1 == std::string::npos || tab2 == std::string::npos)
            continue;
        list.push_back({line.substr(0, tab1), line.substr(tab2 + 1),
                        line.substr(tab1 + 1, tab2 - tab1 - 1) == "failed"});
    }
    return list;
}

// Compares the pictures; prints and returns the failures.
int ComparePictures(const fs::path& Folder, double Tolerance) {
    const QImage live(QString::fromStdString((Folder / "live.png").string()));
    const QImage copy(QString::fromStdString((Folder / "offline.png").string()));
    if (live.isNull())
        throw CheckError("cannot read " + (Folder / "live.png").string());
    if (live.size() != copy.size()) {
        std::printf("FAIL: the pictures differ in size: live %dx%d, copy %dx%d\n", live.width(),
                    live.height(), copy.width(), copy.height());
        return 1;
    }
    const QImage a = live.convertToFormat(QImage::Format_RGB32);
    const QImage b = copy.convertToFormat(QImage::Format_RGB32);
    // The copy in pale grey, its differing pixels in red.
    QImage diff(a.size(), QImage::Format_RGB32);
    long long differing = 0;
    int left = a.width(), top = a.height(), right = -1, bottom = -1;
    for (int y = 0; y < a.height(); ++y) {
        const auto* pa = reinterpret_cast<const QRgb*>(a.constScanLine(y));
        const auto* pb = reinterpret_cast<const QRgb*>(b.constScanLine(y));
        auto* pd = reinterpret_cast<QRgb*>(diff.scanLine(y));
        for (int x = 0; x < a.width(); ++x) {
            const int delta = std::max({std::abs(qRed(pa[x]) - qRed(pb[x])),
                                        std::abs(qGreen(pa[x]) - qGreen(pb[x])),
                                        std::abs(qBlue(pa[x]) - qBlue(pb[x]))});
            if (delta > ChannelThreshold) {
                ++differing;
                left = std::min(left, x);
                right = std::max(right, x);
                top = std::min(top, y);
                bottom = std::max(bottom, y);
                pd[x] = qRgb(255, 0, 0);
            } else {
                const int grey = 191 + qGray(pb[x]) / 4;
                pd[x] = qRgb(grey, grey, grey);
            }
        }
    }
    const double share = 100.0 * static_cast<double>(differing) / (a.width() * a.height());
    std::printf("pixels: %lld of %d differ (%.3f%%, tolerance %.3f%%)\n", differing,
                a.width() * a.height(), share, Tolerance);
    if (share <= Tolerance)
        return 0;
    const fs::path diffFile = Folder / "diff.png";
    diff.save(QString::fromStdString(diffFile.string()), "PNG");
    std::printf("FAIL: the copy looks different from the live page in x %d-%d, y %d-%d (%.3f%% of "
                "the pixels); see %s\n",
                left, right, top, bottom, share, diffFile.c_str());
    return 1;
}

// Compares what was loaded; prints and returns the failures.
// Folder: the saved file's own; a copy takes nothing from outside it.
int CompareResources(const std::vector<Resource>& Live, const std::vector<Resource>& Copy,
                     const fs::path& Folder) {
    const auto outside = [&Folder](const std::string& Url) {
        const fs::path relative = fs::weakly_canonical(LocalPath(Url)).lexically_relative(Folder);
        return relative.empty() || *relative.begin() == "..";
    };
    int failures = 0;
    std::map<std::string, std::vector<const Resource*>> live, local;
    for (const Resource& r : Live) {
        if (r.Failed)
            std::printf("note: the live page could not load %s %s; not expected of the copy\n",
                        r.Type.c_str(), r.Url.c_str());
        else
            live[r.Type].push_back(&r);
    }
    for (const Resource& r : Copy) {
        if (IsNetwork(r.Url)) {
            std::printf("FAIL: the copy asked the network for %s %s\n", r.Type.c_str(),
                        r.Url.c_str());
            ++failures;
        } else if (r.Failed || (IsLocal(r.Url) && !fs::exists(LocalPath(r.Url)))) {
            std::printf("FAIL: the copy names %s %s, which it does not hold\n", r.Type.c_str(),
                        r.Url.c_str());
            ++failures;
        } else if (IsLocal(r.Url) && outside(r.Url)) {
            std::printf("FAIL: the copy loaded %s %s, from outside its folder\n", r.Type.c_str(),
                        r.Url.c_str());
            ++failures;
        } else if (IsLocal(r.Url)) {
            local[r.Type].push_back(&r);
        } else {
            std::printf("FAIL: the copy loaded %s %s, neither a local file nor from the network\n",
                        r.Type.c_str(), r.Url.c_str());
            ++failures;
        }
    }
    std::size_t matched = 0, total = 0;
    for (const auto& [type, wanted] : live) {
        const std::vector<const Resource*>& got = local[type];
        total += wanted.size();
        matched += std::min(wanted.size(), got.size());
        if (got.size() >= wanted.size())
            continue;
        ++failures;
        std::printf("FAIL: %s: %zu of %zu loaded locally\n", type.c_str(), got.size(),
                    wanted.size());
        // Which ones: those without a local file of the same name, when the
        // names tell.
        std::multiset<std::string> names;
        for (const Resource* r : got)
            names.insert(BaseName(r->Url));
        for (const Resource* r : wanted) {
            const auto same = names.find(BaseName(r->Url));
            if (same != names.end())
                names.erase(same);
            else
                std::printf("  missing: %s %s\n", type.c_str(), r->Url.c_str());
        }
    }
    for (const auto& [type, got] : local)
        if (live.find(type) == live.end() || got.size() > live[type].size())
            std::printf("note: the copy loaded %zu %s, the live page %zu\n", got.size(),
                        type.c_str(), live.count(type) ? live[type].size() : 0);
    std::printf("resources: %zu of %zu loaded locally\n", matched, total);
    return failures;
}

int Usage() {
    std::fprintf(stderr, "usage: larkspool-visual-check live URL OUT_DIR\n"
                         "       larkspool-visual-check offline COPY_FILE OUT_DIR "
                         "[--tolerance PERCENT]\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 4)
        return Usage();
    const std::string step = argv[1];
    double tolerance = 0.1;
    if (step == "offline" && argc == 6 && std::string(argv[4]) == "--tolerance") {
        char* end = nullptr;
        tolerance = std::strtod(argv[5], &end);
        if (*end != '\0' || tolerance < 0 || tolerance > 100)
            return Usage();
    } else if (argc != 4 || (step != "live" && step != "offline")) {
        return Usage();
    }
    const fs::path folder = fs::absolute(argv[3]);
    try {
        if (step == "live") {
            const Measurement m = Measure(argv[2], false);
            WriteMeasurement(m, folder, "live");
            std::size_t failed = 0;
            for (const Resource& r : m.Resources)
                failed += r.Failed ? 1 : 0;
            std::printf("live: %zu resources (%zu failed) of %s\n", m.Resources.size(), failed,
                        argv[2]);
            return 0;
        }
        const fs::path copy = fs::absolute(argv[2]);
        if (!fs::is_regular_file(copy)) {
            std::printf("FAIL: there is no saved file %s\n", copy.c_str());
            return 1;
        }
        const std::vector<Resource> live = ReadList(folder / "live.txt");
        const Measurement m = Measure(QUrl::fromLocalFile(QString::fromStdString(copy.string()))
                                          .toString(QUrl::FullyEncoded)
                                          .toStdString(),
                                      true);
        WriteMeasurement(m, folder, "offline");
        std::printf("offline: %s\n", copy.c_str());
        const int failures =
            ComparePictures(folder, tolerance) +
            CompareResources(live, m.Resources, fs::weakly_canonical(copy).parent_path());
        std::printf("%s: %s\n", copy.filename().c_str(),
                    failures == 0 ? "looks as it did live, from local files only"
                                  : "FAILED (see above)");
        return failures == 0 ? 0 : 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "larkspool-visual-check: %s\n", e.what());
        return 3;
    }
}
