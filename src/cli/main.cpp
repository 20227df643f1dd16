// larkspool-save: saves a page the way the add-on does, with the page read
// through headless Chromium.
#include "browser/DevToolsBrowser.h"
#include "browser/LinkCollection.h"
#include "cli/Interrupts.h"
#include "cli/SaveOptions.h"
#include "cli/TerminalView.h"
#include "lister/Lister.h"
#include "platform/SaveFolderLock.h"
#include "run/DownloadRun.h"
#include "run/HandToBrowser.h"
#include "tools/ProcessValues.h"
#include "tools/Settings.h"
#include "tools/UrlHelpers.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using namespace larkspool;
using Clock = std::chrono::steady_clock;

namespace {

double Seconds(Clock::duration D) {
    return std::chrono::duration<double>(D).count();
}

// This process's peak resident memory in kB (the browser's processes apart).
long PeakMemoryKilobytes() {
    std::FILE* status = std::fopen("/proc/self/status", "r");
    if (!status)
        return 0;
    char line[256];
    long kilobytes = 0;
    while (std::fgets(line, sizeof line, status))
        if (std::sscanf(line, "VmHWM: %ld kB", &kilobytes) == 1)
            break;
    std::fclose(status);
    return kilobytes;
}

bool IsFolder(const std::string& Path) {
    struct stat info {};
    return ::stat(Path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// The destination, plus the subfolder when one is wanted (created when
// missing); always ends with "/". Empty with a message on failure.
std::string MakeOutputFolder(const TSaveOptions& Options, const std::string& Title) {
    std::string folder = Settings.DestinationFolder.empty() ? "." : Settings.DestinationFolder;
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    if (!IsFolder(folder)) {
        std::fprintf(stderr, "larkspool-save: the destination folder \"%s\" does not exist\n",
                     folder.c_str());
        return {};
    }
    folder += '/';
    if (Settings.CreateSubFolder) {
        std::string sub = Options.SubFolderName.value_or(MakeFolderName(Title));
        if (sub.empty() || sub == "." || sub == ".." || sub.find('/') != std::string::npos)
            sub = Options.SubFolderName ? std::string() : "Saved page";
        if (sub.empty()) {
            std::fprintf(stderr, "larkspool-save: \"%s\" cannot be a subfolder name\n",
                         Options.SubFolderName->c_str());
            return {};
        }
        folder += sub;
        if (!IsFolder(folder) && ::mkdir(folder.c_str(), 0755) != 0) {
            std::fprintf(stderr, "larkspool-save: cannot create the folder \"%s\": %s\n",
                         folder.c_str(), std::strerror(errno));
            return {};
        }
        folder += '/';
    }
    return folder;
}

// How long the browser may take over the downloads handed to it.
constexpr std::chrono::seconds kBrowserDownloadLimit{60};

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    try {
        LoadSettings();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "larkspool-save: the stored settings were not read: %s\n", e.what());
    }
    TSaveOptions options;
    if (const int code = ParseSaveOptions(argc, argv, options); code >= 0)
        return code;

    // Ctrl-C: in the browser, closes it and ends; in the download run, stops
    // (log written, pages relinked), a second time aborts.
    if (!CatchInterrupts())
        return kExitBadArguments;

    const auto browserStart = Clock::now();
    // Made before the watch, so that the watch never sees it half made.
    std::unique_ptr<DevToolsBrowser> browser;
    try {
        browser = std::make_unique<DevToolsBrowser>();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "larkspool-save: %s\n", e.what());
        return kExitBrowser;
    }
    TInterruptWatch watch([&browser] { browser->Close(); });
    const auto interrupted = [&watch] {
        if (watch.Interrupted()) {
            std::fprintf(stderr, "larkspool-save: interrupted; the browser is closed\n");
            return true;
        }
        return false;
    };
    Variant window;
    TPageLinks page;
    try {
        window = browser->Open(options.URL);
        if (options.Frame >= 0) {
            const std::int64_t frames = window.Get("frames").Get("Length").ToInteger();
            if (options.Frame >= frames)
                throw DispatchError("the page has " + std::to_string(frames) +
                                    " frames; there is no frame " + std::to_string(options.Frame));
            window = window.Get("frames").Call("Item", {Variant(options.Frame)});
        }
        page = CollectPageLinks(window);
    } catch (const std::exception& e) {
        if (!interrupted())
            std::fprintf(stderr, "larkspool-save: %s\n", e.what());
        return kExitBrowser;
    }
    StartPageURL = page.URL;
    StartPageTitle = page.Title;

    if (options.ListLinks) {
        for (const TLinkRow& row : page.Rows)
            std::printf("%s %s %s\n", row.Number.c_str(), row.Address.c_str(), row.Text.c_str());
        return kExitSaved;
    }
    OutputFolder = MakeOutputFolder(options, page.Title);
    if (OutputFolder.empty())
        return kExitFolder;
    // One save per folder at a time; held until the process ends.
    std::optional<SaveFolderLock> folderLock;
    try {
        folderLock.emplace(OutputFolder);
    } catch (const SaveFolderLockError& e) {
        std::fprintf(stderr, "larkspool-save: %s\n", e.what());
        return kExitFolder;
    }
    try {
        browser->AllowDownloads(OutputFolder);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "larkspool-save: %s\n", e.what());
        return kExitBrowser;
    }

    std::unique_ptr<TLister> list;
    try {
        list = std::make_unique<TLister>(window);
        for (const TLinkRow& row : ChosenLinks(options, page.Rows))
            list->AddLink(row.Address, row.Text);
        HandToBrowser(*list, window);
    } catch (const std::exception& e) {
        if (!interrupted())
            std::fprintf(stderr, "larkspool-save: reading the page failed: %s\n", e.what());
        return kExitBrowser;
    }
    if (!list->LogProblem().empty()) // the save goes on without it
        std::fprintf(stderr, "larkspool-save: %s\n", list->LogProblem().c_str());
    watch.Finish();
    if (interrupted())
        return kExitBrowser;
    const double browserSeconds = Seconds(Clock::now() - browserStart);

    TTerminalView view(options.Quiet);
    TDownloadRun run(*list, window, view, &view);
    // Nobody is there to press Skip.
    run.SkipFailedRequests = true;
    int interrupts = 0;
    QSocketNotifier interrupt(InterruptFd(), QSocketNotifier::Read);
    QObject::connect(&interrupt, &QSocketNotifier::activated, [&] {
        const int count = DrainInterrupts();
        if (count == 0)
            return;
        view.EndLine();
        interrupts += count;
        if (interrupts == 1) {
            std::fprintf(stderr, "larkspool-save: stopping (Ctrl-C again aborts)\n");
            run.Stop();
        } else {
            run.Abort();
        }
    });
    const auto runStart = Clock::now();
    run.Start();
    if (!view.Closed())
        app.exec();
    const double runSeconds = Seconds(Clock::now() - runStart);
    // Files that turned out to be the browser's during the run.
    bool downloadsFinished = true;
    try {
        list->ResetToPages();
        HandToBrowser(*list, window);
        int handed = 0;
        for (const TListerItem& item : list->Pages())
            handed += item.State == stHandedToBrowser ? 1 : 0;
        if (handed > 0)
            downloadsFinished = browser->WaitForDownloads(handed, kBrowserDownloadLimit);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "larkspool-save: handing files to the browser failed: %s\n", e.what());
        downloadsFinished = false;
    }
    // Read before Close: the states live in the connection.
    std::vector<std::string> downloadStates;
    for (const TListerItem& item : list->Pages())
        downloadStates.push_back(browser->DownloadState(item.URL));
    const std::size_t downloadsCompleted = browser->DownloadsCompleted();
    browser->Close();

    int saved = 0, skipped = 0, notFetched = 0, toBrowser = 0;
    for (const auto* items : {&list->Pages(), &list->Pictures(), &list->Stylesheets()})
        for (const TListerItem& item : *items) {
            switch (item.State) {
            case stSavedText:
            case stSavedOther:
            case stRelinked:
            case stFromDocument:
                ++saved;
                break;
            case stSkipped:
                ++skipped;
                break;
            case stToDownload:
                // pictures are gathered but not fetched when they are turned off
                if (items != &list->Pictures() || Settings.ShowPictures)
                    ++notFetched;
                break;
            case stToBrowser:
            case stHandedToBrowser:
                ++toBrowser;
                break;
            default:
                break;
            }
        }
    std::printf("Saved %d, skipped %d, not fetched %d, left to the browser %d, problems %d; "
                "%lld bytes received.\n",
                saved, skipped, notFetched, toBrowser, view.Problems(),
                static_cast<long long>(run.TotalReceived()));
    std::printf("Browser %.2f s, download run %.2f s, peak memory %ld kB. Saved in %s (open "
                "%sINDEX.HTML)\n",
                browserSeconds, runSeconds, PeakMemoryKilobytes(), OutputFolder.c_str(),
                OutputFolder.c_str());
    for (std::size_t i = 0; i < list->Pages().size(); ++i) {
        const TListerItem& item = list->Pages()[i];
        if (item.State != stToBrowser && item.State != stHandedToBrowser)
            continue;
        const std::string& state = downloadStates[i];
        const char* outcome = state == "completed"    ? "downloaded"
                              : state == "canceled"   ? "download canceled"
                              : state == "inProgress" ? "download not finished"
                                                      : "no download began";
        std::printf("Left to the browser: %s (%s)\n", item.URL.c_str(), outcome);
    }
    if (toBrowser > 0)
        std::printf("Browser downloads: %zu of %d completed%s.\n", downloadsCompleted, toBrowser,
                    downloadsFinished ? "" : "; some did not finish within the time limit");
    return view.Problems() + skipped + notFetched > 0 ? kExitItemsFailed : kExitSaved;
}
