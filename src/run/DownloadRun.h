#pragma once

// The driver of one save: writes the open page and its frames, fetches every
// item of the download list, stores and classifies it, scans text pages for
// more pictures and style sheets, then writes the previous-downloads log and
// relinks every stored page.
//
// Items are taken in list order, one after the other, as the user sees them
// in the progress window. With Connections above 1 the run also fetches the
// items ahead of the one it is waiting for (up to Connections per server),
// each body going to a temporary file; it takes each over only when it
// reaches that item, so names, the log and the relinked pages come out as
// they do one at a time.
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
#include "run/FetchSlots.h"
#include "run/RunObserver.h"
#include "tools/Cookies.h"

#include <QObject>
#include <QTimer>

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <unordered_set>
#include <utility>
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

    // The HTTP component whose values (and session) every request of the
    // run takes.
    TAdvHttp AdvHttp;

    // Requests in flight at once per server (1: one item after the other).
    // Read from the settings when the run is made; set before Start.
    int Connections = 1;

    // A request that fails (no server, a broken connection, a password
    // refused to the end) is always reported. For a front end nobody watches
    // (the command line) its item is also skipped at once, instead of
    // waiting for Skip, Stop, Abort or the auto-skip timer. Set before Start.
    bool SkipFailedRequests = false;

    // The most one file may bring: bodies go to the disk as they arrive, and
    // a server that sends without end would otherwise fill it. A file that
    // grows past this is given up, reported and skipped.
    std::int64_t MaxFileBytes = std::int64_t(16) << 30;
    // The longest one file may take (zero: no limit). A server that trickles
    // a byte now and then is never silent long enough for the auto-skip
    // countdown; where nobody is there to press Skip, this ends it.
    std::chrono::seconds MaxFileTime{0};

    // Where the requests of the run get the browser's cookies from: asked
    // once for the hosts of the list when the run begins, and for each host
    // met later before its first request. Unset: the run starts with an
    // empty jar. Set before Start.
    void SetCookieSource(CookieSource Source) { FCookieSource = std::move(Source); }

private:
    using ItemKey = std::pair<int, std::size_t>; // phase, index: list order

    void StartRun();
    void TakeCookiesFor(const std::vector<std::string>& Hosts);
    void NextItem();
    void BeginItem();
    void TakeOver();
    void ArmAutoSkip();
    void NotFetched(const std::string& URL, const std::string& Reason);
    void Guarded(const std::function<void()>& Step) noexcept;
    void ProcessItem(Fetch* Fetched);
    void SetStatus(const std::string& Text);
    void SetProgress(int Position, int Max);
    void ShowItem();
    void FinishRun();
    void RelinkAll();
    void CloseWindow();
    void Report(const std::string& URL, const std::exception& Error);
    void EndCurrentRequest();
    static long Percent(int Position, int Max);

    // Fetching.
    int TotalInFlight() const;
    Fetch* StartFetch(ItemKey Key, const std::string& URL);
    void FetchAhead();
    void DropFetch(ItemKey Key);
    void DropAllFetches();
    void ReachedDone();
    void PostForCurrentItem(void (DownloadRun::*Step)());
    void TakeAnswer();
    void Resume();

    void FetchProgress(Fetch& F, TAdvHttp& Http);
    void FetchRedirect(Fetch& F, TAdvHttp& Http);
    void FetchComplete(Fetch& F, TAdvHttp& Http);
    void FetchNeedAuth(Fetch& F, TAdvHttp& Http);
    void FetchError(Fetch& F, TAdvHttp& Http);
    void GiveUp(Fetch& F, const std::string& Reason);
    std::string LargerThanLimit() const;
    void RequestFailed(const std::string& Reason);
    void PostSkip();
    void tmrSkipTimer();

    TLister& FList;
    Variant FBrowserWindow;
    IRunObserver& FObserver;
    ICredentialsPrompt* FPrompt;
    QTimer tmrSkip;
    FetchSlots FSlots;
    std::map<ItemKey, std::unique_ptr<Fetch>> FFetches; // the current item's and those ahead
    Fetch* FHead = nullptr;                  // the current item's, once the run reached it
    std::unordered_set<std::string> FLogged; // addresses an earlier save may have stored
    std::int64_t FTotalReceived = 0;
    int FPosition = 0;
    int FMax = 0;
    bool FClosed = false;
    bool FRequestInFlight = false;    // the current item's request
    bool FPromptOpen = false;         // the password prompt is showing
    bool FFinishing = false;          // the log and relinking are under way
    std::uint64_t FGeneration = 0;    // posted steps of an earlier cursor are dropped
    std::uint64_t FRequestSerial = 0; // which request a posted failure belongs to
    std::uint64_t FCredentials = 0;   // answers given to the prompt so far
    CookieSource FCookieSource;
    std::unordered_set<std::string> FCookieHosts; // asked for already
};

} // namespace larkspool
