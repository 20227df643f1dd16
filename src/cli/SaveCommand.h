#pragma once

// larkspool-save's work, from parsed options to an exit code: the page is
// read through a browser, the folder prepared as the window prepares it, the
// download run driven on the Qt main loop (a QCoreApplication must exist),
// and a summary printed. Interrupts (Ctrl-C, SIGTERM, SIGHUP) are caught
// while it runs: in the browser, it closes it and ends the process; in the
// download run, it stops (log written, pages relinked); a second one aborts.

#include "browser/OfflineCheck.h"
#include "cli/SaveBrowser.h"
#include "cli/SaveOptions.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace larkspool {

class InterruptWatch;
class DownloadRun;
class TerminalView;
class TLister;

class SaveCommand {
public:
    // Options as parsed (with the process-wide Settings); the browser is
    // started by MakeBrowser only when the save gets that far. Output and
    // the summary go to Out, messages to Err.
    SaveCommand(SaveOptions Options, SaveBrowserFactory MakeBrowser, std::FILE* Out = stdout,
                std::FILE* Err = stderr);
    ~SaveCommand();
    SaveCommand(const SaveCommand&) = delete;
    SaveCommand& operator=(const SaveCommand&) = delete;

    // The save; returns the exit code (kExitSaved ... kExitNotOffline).
    int Run();

    // The offline check of a finished save (Settings.VerifyCopy), which
    // starts a browser of its own.
    std::function<OfflineReport(const std::string& Folder, const std::vector<std::string>& Pages,
                                const OfflineCheckOptions& Options)>
        CheckCopy = CheckCopyOffline;

private:
    // What an interrupt does depends on the step the save is in.
    enum class Step { Browser, Run, Finishing, Checking };

    int Save(std::chrono::steady_clock::time_point BrowserStart);
    void OnInterrupt(int Count);
    [[noreturn]] void Abort(const char* Message, int Code);
    // Changes what an interrupt acts on, under the watch's lock.
    void Enter(Step Next, DownloadRun* Run, TerminalView* View);
    bool Interrupted() const;
    // The offline check with its lines printed; kExitNotOffline when
    // something does not load, kExitBrowser when it could not run.
    int CheckOffline(const TLister& List);
    void Error(const std::string& Message) const;

    const SaveOptions FOptions;
    const SaveBrowserFactory FMakeBrowser;
    std::FILE* const FOut;
    std::FILE* const FErr;
    std::unique_ptr<SaveBrowser> FBrowser;
    std::vector<BrowserCookie> FStartCookies; // from the cookies file
    InterruptWatch* FWatch = nullptr;
    // Changed under the watch's lock.
    Step FStep = Step::Browser;
    DownloadRun* FRunning = nullptr;
    TerminalView* FShown = nullptr;
    int FInterruptsBeforeCheck = 0;
    std::atomic<bool> FCheckStopped{false};
    std::vector<std::string> FCheckLines; // printed at the end of the summary
};

} // namespace larkspool
