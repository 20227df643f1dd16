#include "cli/SaveCommand.h"

#include "browser/LinkCollection.h"
#include "cli/Interrupts.h"
#include "cli/OutputFolder.h"
#include "cli/StoredFiles.h"
#include "cli/TerminalView.h"
#include "lister/Lister.h"
#include "run/CopyCheck.h"
#include "run/DownloadRun.h"
#include "run/HandToBrowser.h"
#include "run/SavePreparation.h"
#include "tools/Cookies.h"
#include "tools/ProcessValues.h"
#include "tools/Settings.h"

#include <QCoreApplication>

#include <cstdint>
#include <ctime>
#include <mutex>
#include <optional>
#include <string>
#include <unistd.h>
#include <vector>

namespace larkspool {

namespace {

using Clock = std::chrono::steady_clock;

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

// The window Options point at: the page's own, or one of its frames.
Variant ChosenWindow(const Variant& Window, int Frame) {
    if (Frame < 0)
        return Window;
    const std::int64_t frames = Window.Get("frames").Get("Length").ToInteger();
    if (Frame >= frames)
        throw DispatchError("the page has " + std::to_string(frames) +
                            " frames; there is no frame " + std::to_string(Frame));
    return Window.Get("frames").Call("Item", {Variant(Frame)});
}

} // namespace

SaveCommand::SaveCommand(SaveOptions Options, SaveBrowserFactory MakeBrowser, std::FILE* Out,
                         std::FILE* Err)
    : FOptions(std::move(Options)), FMakeBrowser(std::move(MakeBrowser)), FOut(Out), FErr(Err) {}

SaveCommand::~SaveCommand() = default;

void SaveCommand::Error(const std::string& Message) const {
    std::fprintf(FErr, "larkspool-save: %s\n", Message.c_str());
    std::fflush(FErr);
}

int SaveCommand::Run() {
    // A save that cannot be stored starts no browser.
    if (!FOptions.ListLinks)
        if (const std::string problem = DestinationProblem(Settings.DestinationFolder);
            !problem.empty()) {
            Error(problem);
            return kExitFolder;
        }

    // A cookies file that cannot be read starts no browser either.
    if (!FOptions.CookiesFile.empty())
        try {
            FStartCookies = ReadCookiesFile(FOptions.CookiesFile, std::time(nullptr));
        } catch (const CookieFileError& e) {
            Error(e.what());
            return kExitBadArguments;
        }

    // Ctrl-C, SIGTERM, SIGHUP: in the browser, close it and end; in the
    // download run, stop (log written, pages relinked), a second time abort.
    if (!CatchInterrupts())
        return kExitBadArguments;

    const auto browserStart = Clock::now();
    // Made before the watch, so that the watch never sees it half made.
    try {
        FBrowser = FMakeBrowser();
    } catch (const std::exception& e) {
        Error(e.what());
        return kExitBrowser;
    }
    int code;
    {
        // The watch acts at once, even while this thread is busy in a long
        // step: ending the process itself where the save is not to go on.
        InterruptWatch watch([this](int Count) { OnInterrupt(Count); });
        FWatch = &watch;
        code = Save(browserStart);
        FWatch = nullptr;
    }
    FBrowser.reset();
    return code;
}

void SaveCommand::OnInterrupt(int Count) {
    if (FStep == Step::Browser)
        Abort("interrupted; the browser is closed", kExitBrowser);
    if (FStep == Step::Checking) {
        // The copy is complete by now: the first interrupt ends the check,
        // another one the program.
        if (Count > FInterruptsBeforeCheck + 1)
            Abort("aborted during the offline check", kExitNotOffline);
        Error("stopping the offline check (interrupt again to abort)");
        FCheckStopped = true;
        return;
    }
    if (Count > 1)
        Abort("aborted: the log is not written, the pages are not relinked", kExitItemsFailed);
    if (FStep == Step::Finishing) {
        FBrowser->Close(); // no more waiting for its downloads
        return;
    }
    QMetaObject::invokeMethod(
        FRunning,
        [running = FRunning, shown = FShown, this] {
            shown->EndLine();
            Error("stopping (interrupt again to abort)");
            running->Stop();
        },
        Qt::QueuedConnection);
}

void SaveCommand::Abort(const char* Message, int Code) {
    Error(Message);
    FBrowser->Close();
    std::fflush(FOut);
    ::_exit(Code);
}

void SaveCommand::Enter(Step Next, DownloadRun* Run, TerminalView* View) {
    std::lock_guard lock(FWatch->Lock());
    FStep = Next;
    FRunning = Run;
    FShown = View;
}

bool SaveCommand::Interrupted() const {
    return FWatch->Count() > 0;
}

int SaveCommand::Save(Clock::time_point BrowserStart) {
    Variant window;
    PageLinks page;
    try {
        FBrowser->AddCookies(FStartCookies);
        window = ChosenWindow(FBrowser->Open(FOptions.URL), FOptions.Frame);
        page = CollectPageLinks(window);
    } catch (const std::exception& e) {
        if (!Interrupted())
            Error(e.what());
        return kExitBrowser;
    }
    StartPageURL = page.URL;
    StartPageTitle = page.Title;

    if (FOptions.ListLinks) {
        for (const LinkRow& row : page.Rows)
            std::fprintf(FOut, "%s %s %s\n", row.Number.c_str(), row.Address.c_str(),
                         row.Text.c_str());
        std::fflush(FOut);
        return kExitSaved;
    }
    // The folder (held until the save has ended), prepared as the window
    // prepares it.
    std::optional<SavePreparation> prepared;
    try {
        prepared.emplace(Settings.DestinationFolder, ChosenSubFolder(FOptions, page.Title));
    } catch (const std::exception& e) {
        Error(e.what());
        return kExitFolder;
    }
    try {
        FBrowser->AllowDownloads(OutputFolder);
    } catch (const std::exception& e) {
        Error(e.what());
        return kExitBrowser;
    }
    std::unique_ptr<TLister> list;
    try {
        list = prepared->BuildList(window, ChosenLinks(FOptions, page.Rows));
    } catch (const std::exception& e) {
        if (!Interrupted())
            Error(std::string("reading the page failed: ") + e.what());
        return kExitBrowser;
    }
    if (!list->LogProblem().empty()) // the save goes on without it
        Error(list->LogProblem());
    const double browserSeconds = Seconds(Clock::now() - BrowserStart);
    // The page is read; what the browser still does on its own after its
    // start (seconds of it, on every core it gets) would otherwise slow the
    // download run, which needs it only at the end.
    FBrowser->LowerPriority();

    TerminalView view(FOptions.Quiet, FOut, FErr);
    DownloadRun run(*list, window, view, &view);
    // Nobody is there to press Skip.
    run.SkipFailedRequests = true;
    run.MaxFileTime = std::chrono::seconds(FOptions.FileTimeLimit);
    // The requests carry the browser's cookies: the file's and those the
    // page set while it loaded.
    run.SetCookieSource(
        [this](const std::vector<std::string>& Hosts) { return FBrowser->Cookies(Hosts); });
    const StoredFiles stored(*list, OutputFolder);
    Enter(Step::Run, &run, &view);
    const auto runStart = Clock::now();
    run.Start();
    if (!view.Closed())
        QCoreApplication::exec();
    const double runSeconds = Seconds(Clock::now() - runStart);
    Enter(Step::Finishing, nullptr, nullptr);
    // Files that turned out to be the browser's during the run.
    bool downloadsFinished = true;
    try {
        list->ResetToPages();
        HandToBrowser(*list, window);
        int handed = 0;
        for (const TListerItem& item : list->Pages())
            handed += item.State == stHandedToBrowser ? 1 : 0;
        if (handed > 0)
            downloadsFinished = FBrowser->WaitForDownloads(handed, kBrowserDownloadLimit);
    } catch (const std::exception& e) {
        Error(std::string("handing files to the browser failed: ") + e.what());
        downloadsFinished = false;
    }
    // Read before Close: the states live in the connection.
    std::vector<std::string> downloadStates;
    for (const TListerItem& item : list->Pages())
        downloadStates.push_back(FBrowser->DownloadState(item.URL));
    const std::size_t downloadsCompleted = FBrowser->DownloadsCompleted();
    FBrowser->Close();

    const StoredCounts counts = stored.Count(*list);
    const int checked = Settings.VerifyCopy ? CheckOffline(*list) : kExitSaved;
    std::fprintf(FOut,
                 "Saved %d, skipped %d, not fetched %d, not stored %d, left to the browser %d, "
                 "problems %d; %lld bytes received.\n",
                 counts.Saved, counts.Skipped, counts.NotFetched, counts.NotStored,
                 counts.ToBrowser, view.Problems(), static_cast<long long>(run.TotalReceived()));
    std::fprintf(FOut, "Browser %.2f s, download run %.2f s, peak memory %ld kB. Saved in %s",
                 browserSeconds, runSeconds, PeakMemoryKilobytes(), OutputFolder.c_str());
    if (counts.StartPageStored)
        std::fprintf(FOut, " (open %sINDEX.HTML)\n", OutputFolder.c_str());
    else
        std::fprintf(FOut, "; the page itself was not stored\n");
    for (std::size_t i = 0; i < list->Pages().size(); ++i) {
        const TListerItem& item = list->Pages()[i];
        if (item.State != stToBrowser && item.State != stHandedToBrowser)
            continue;
        const std::string& state = downloadStates[i];
        const char* outcome = state == "completed"    ? "downloaded"
                              : state == "canceled"   ? "download canceled"
                              : state == "inProgress" ? "download not finished"
                                                      : "no download began";
        std::fprintf(FOut, "Left to the browser: %s (%s)\n", item.URL.c_str(), outcome);
    }
    if (counts.ToBrowser > 0)
        std::fprintf(FOut, "Browser downloads: %zu of %d completed%s.\n", downloadsCompleted,
                     counts.ToBrowser,
                     downloadsFinished ? "" : "; some did not finish within the time limit");
    if (Settings.VerifyCopy) {
        for (const std::string& line : FCheckLines)
            std::fprintf(FOut, "%s\n", line.c_str());
    }
    std::fflush(FOut);
    return view.Problems() + counts.Skipped + counts.NotFetched + counts.NotStored > 0
               ? kExitItemsFailed
               : checked;
}

int SaveCommand::CheckOffline(const TLister& List) {
    FCheckLines.clear();
    const std::vector<std::string> pages = StoredPages(List, OutputFolder);
    {
        std::lock_guard lock(FWatch->Lock());
        FStep = Step::Checking;
        FInterruptsBeforeCheck = FWatch->Count();
    }
    if (!FOptions.Quiet) {
        std::fprintf(FOut, "Checking the copy offline (%s pages)...\n",
                     GroupedNumber(static_cast<long long>(pages.size())).c_str());
        std::fflush(FOut);
    }
    OfflineCheckOptions options;
    options.Cancelled = [this] { return FCheckStopped.load(); };
    OfflineReport report;
    try {
        report = CheckCopy(OutputFolder, pages, options);
    } catch (const std::exception& e) {
        Error(std::string("the offline check could not run: ") + e.what());
        FCheckLines.push_back("Not checked offline: " + std::string(e.what()));
        return kExitBrowser;
    }
    for (const std::string& line : ProblemLines(report))
        FCheckLines.push_back("  " + line);
    FCheckLines.push_back(
        report.SummaryLine() +
        (report.Pages.size() < pages.size()
             ? " (stopped after " + std::to_string(report.Pages.size()) + " pages)"
             : std::string()));
    return report.Missing() > 0 ? kExitNotOffline : kExitSaved;
}

} // namespace larkspool
