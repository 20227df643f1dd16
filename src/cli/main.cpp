// larkspool-save: saves a page the way the add-on does, with the page read
// through headless Chromium.
#include "browser/DevToolsBrowser.h"
#include "browser/LinkCollection.h"
#include "cli/Interrupts.h"
#include "cli/OutputFolder.h"
#include "cli/SaveOptions.h"
#include "cli/StoredFiles.h"
#include "cli/TerminalView.h"
#include "lister/Lister.h"
#include "platform/Leftovers.h"
#include "platform/SaveFolderLock.h"
#include "run/DownloadRun.h"
#include "run/HandToBrowser.h"
#include "tools/ProcessValues.h"
#include "tools/Settings.h"
#include "tools/UrlHelpers.h"

#include <QCoreApplication>

#include <chrono>
#include <cstdio>
#include <optional>
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

// How long the browser may take over the downloads handed to it.
constexpr std::chrono::seconds kBrowserDownloadLimit{60};

// What an interrupt does depends on the step the save is in.
enum class Step { Browser, Run, Finishing };

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

    // A save that cannot be stored starts no browser.
    if (!options.ListLinks)
        if (const std::string problem = DestinationProblem(Settings.DestinationFolder);
            !problem.empty()) {
            std::fprintf(stderr, "larkspool-save: %s\n", problem.c_str());
            return kExitFolder;
        }

    // Ctrl-C, SIGTERM, SIGHUP: in the browser, close it and end; in the
    // download run, stop (log written, pages relinked), a second time abort.
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
    // The watch acts at once, even while this thread is busy in a long step:
    // ending the process itself where the save is not to go on.
    Step step = Step::Browser; // changed under the watch's lock
    TDownloadRun* running = nullptr;
    TTerminalView* shown = nullptr;
    const auto abort = [&browser](const char* Message, int Code) {
        std::fprintf(stderr, "larkspool-save: %s\n", Message);
        browser->Close();
        ::_exit(Code);
    };
    InterruptWatch watch([&](int Count) {
        if (step == Step::Browser)
            abort("interrupted; the browser is closed", kExitBrowser);
        if (Count > 1)
            abort("aborted: the log is not written, the pages are not relinked", kExitItemsFailed);
        if (step == Step::Finishing) {
            browser->Close(); // no more waiting for its downloads
            return;
        }
        QMetaObject::invokeMethod(
            running,
            [running, shown] {
                shown->EndLine();
                std::fprintf(stderr, "larkspool-save: stopping (interrupt again to abort)\n");
                running->Stop();
            },
            Qt::QueuedConnection);
    });
    const auto enter = [&](Step Next, TDownloadRun* Run, TTerminalView* View) {
        std::lock_guard lock(watch.Lock());
        step = Next;
        running = Run;
        shown = View;
    };
    const auto interrupted = [&watch] { return watch.Count() > 0; };
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
    // Only under the lock: a running save's temporary pages are its own.
    RemoveLeftovers(OutputFolder, Leftover::TemporaryFile);
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
    const double browserSeconds = Seconds(Clock::now() - browserStart);

    TTerminalView view(options.Quiet);
    TDownloadRun run(*list, window, view, &view);
    // Nobody is there to press Skip.
    run.SkipFailedRequests = true;
    run.MaxFileTime = std::chrono::seconds(options.FileTimeLimit);
    const StoredFiles stored(*list, OutputFolder);
    enter(Step::Run, &run, &view);
    const auto runStart = Clock::now();
    run.Start();
    if (!view.Closed())
        app.exec();
    const double runSeconds = Seconds(Clock::now() - runStart);
    enter(Step::Finishing, nullptr, nullptr);
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

    const StoredCounts counts = stored.Count(*list);
    std::printf("Saved %d, skipped %d, not fetched %d, not stored %d, left to the browser %d, "
                "problems %d; %lld bytes received.\n",
                counts.Saved, counts.Skipped, counts.NotFetched, counts.NotStored, counts.ToBrowser,
                view.Problems(), static_cast<long long>(run.TotalReceived()));
    std::printf("Browser %.2f s, download run %.2f s, peak memory %ld kB. Saved in %s",
                browserSeconds, runSeconds, PeakMemoryKilobytes(), OutputFolder.c_str());
    if (counts.StartPageStored)
        std::printf(" (open %sINDEX.HTML)\n", OutputFolder.c_str());
    else
        std::printf("; the page itself was not stored\n");
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
    if (counts.ToBrowser > 0)
        std::printf("Browser downloads: %zu of %d completed%s.\n", downloadsCompleted,
                    counts.ToBrowser,
                    downloadsFinished ? "" : "; some did not finish within the time limit");
    return view.Problems() + counts.Skipped + counts.NotFetched + counts.NotStored > 0
               ? kExitItemsFailed
               : kExitSaved;
}
