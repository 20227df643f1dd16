#pragma once

// The driver of one save: writes the open page and its frames, fetches every
// item of the download list one at a time, stores and classifies it, scans
// text pages for more pictures and style sheets, then writes the
// previous-downloads log and relinks every stored page.
//
// The run is event-driven on the Qt main thread: each step starts from a
// message the run posts to itself, from the HTTP component's completion, from
// the auto-skip timer or from Skip, Stop and Abort. It shows itself only
// through an IRunObserver, so the progress window and the command line share
// it.
//
// Where a failure would otherwise stall the run silently (storing, scanning,
// writing the start pages, relinking), it is reported to the observer and the
// run goes on; an item that could not be stored is marked skipped, so that no
// page is relinked to a file that is not there.

#include "browser/Variant.h"
#include "http/AdvHttp.h"
#include "lister/Lister.h"
#include "run/RunObserver.h"

#include <QObject>
#include <QTimer>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace larkspool {

class DownloadRun : public QObject {
    Q_OBJECT
public:
    DownloadRun(TLister& List, Variant BrowserWindow, IRunObserver& Observer,
                ICredentialsPrompt* Prompt = nullptr);
    ~DownloadRun() override;

    // The window is shown: the run begins from the event loop.
    void Start();

    // The three buttons.
    void SkipCurrent();
    void Stop();
    void Abort();

    bool Closed() const { return FClosed; }
    std::int64_t TotalReceived() const { return FTotalReceived; }

    // The page test: the last Content-Type line decides.
    static bool IsTextResponse(const std::vector<std::string>& Headers);
    // The test for a file taken over from an earlier save: its name's
    // extension, else a look at its first bytes.
    static bool IsTextFile(const std::string& Path);
    // "P% Text (N bytes received)" as the status line shows it.
    static std::string StatusText(int Position, int Max, const std::string& Text,
                                  std::int64_t TotalReceived);
    // Why a completed request is not the item ("HTTP 404 Not Found", or the
    // failure that broke it off); empty for a whole 2xx answer.
    static std::string FailureOf(const TAdvHttp& Http);

    // The HTTP component, with the values the run uses.
    TAdvHttp AdvHttp;

    // A request that fails (no server, a broken connection, a password
    // refused to the end) is always reported. For a front end nobody watches
    // (the command line) its item is also skipped at once, instead of
    // waiting for Skip, Stop, Abort or the auto-skip timer. Set before Start.
    bool SkipFailedRequests = false;

    // The most one file may bring: the component holds a body in memory, and
    // a server that sends without end would otherwise exhaust it. A file
    // that grows past this is given up, reported and skipped.
    std::int64_t MaxFileBytes = std::int64_t(1) << 30;
    // The longest one file may take (zero: no limit). A server that trickles
    // a byte now and then is never silent long enough for the auto-skip
    // countdown; where nobody is there to press Skip, this ends it.
    std::chrono::seconds MaxFileTime{0};

private:
    void StartRun();
    void NextItem();
    void BeginItem();
    void TakeOver(std::uint64_t Generation);
    void ArmAutoSkip();
    void NotFetched(const std::string& URL, const std::string& Reason);
    void Guarded(const std::function<void()>& Step) noexcept;
    void ProcessItem(bool Save);
    void SetStatus(const std::string& Text);
    void SetProgress(int Position, int Max);
    void ShowItem();
    void FinishRun();
    void RelinkAll();
    void CloseWindow();
    void Report(const std::string& URL, const std::exception& Error);
    void EndCurrentRequest();
    static long Percent(int Position, int Max);

    void AdvHttpResponseReceived();
    void AdvHttpRedirect();
    void AdvHttpRequestComplete();
    void AdvHttpNeedAuth();
    void RequestFailed(const std::string& Reason);
    void PostSkip();
    void tmrSkipTimer();

    TLister& FList;
    Variant FBrowserWindow;
    IRunObserver& FObserver;
    ICredentialsPrompt* FPrompt;
    QTimer tmrSkip;
    std::int64_t FTotalReceived = 0;
    std::int64_t FItemReceived = 0; // of the request in flight
    std::chrono::steady_clock::time_point FItemStarted;
    int FPosition = 0;
    int FMax = 0;
    bool FClosed = false;
    bool FRequestInFlight = false;
    bool FPromptOpen = false;         // the password prompt is showing
    bool FFinishing = false;          // the log and relinking are under way
    std::uint64_t FGeneration = 0;    // posted take-overs of an earlier cursor are dropped
    std::uint64_t FRequestSerial = 0; // which request a posted failure belongs to
};

} // namespace larkspool
