#include "run/DownloadRun.h"

#include "html/DocumentPages.h"
#include "html/Relinker.h"
#include "html/StyleRelinker.h"
#include "platform/AsciiText.h"
#include "platform/AtomicFile.h"
#include "platform/Descriptors.h"
#include "tools/ProcessValues.h"
#include "tools/Settings.h"
#include "tools/UrlHelpers.h"

#include <QMetaObject>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace larkspool {

namespace {

// From the last "." of the name on, lower-cased; empty without a ".".
std::string DotExtension(const std::string& Name) {
    const std::size_t dot = Name.rfind('.');
    return dot == std::string::npos ? std::string() : LowerAscii(Name.substr(dot));
}

bool IsHtmlExtension(const std::string& Extension) {
    return Extension == ".htm" || Extension == ".html";
}

// "scheme://host:port" of an absolute address, which the requests in flight
// are counted by; found without copying, as the look ahead asks it often.
std::string_view ServerOf(std::string_view URL) {
    const std::size_t start = URL.find("//");
    return URL.substr(0, start == std::string_view::npos ? URL.size()
                                                         : URL.find_first_of("/?#", start + 2));
}

} // namespace

DownloadRun::DownloadRun(TLister& List, Variant BrowserWindow, IRunObserver& Observer,
                         ICredentialsPrompt* Prompt)
    : FList(List), FBrowserWindow(std::move(BrowserWindow)), FObserver(Observer), FPrompt(Prompt),
      FSlots(AdvHttp, FetchSlots::Events{
                          // The component would swallow what a handler lets out, and
                          // the run would then wait for ever: nothing leaves a handler.
                          [this](Fetch& F, TAdvHttp& H) { Guarded([&] { FetchProgress(F, H); }); },
                          [this](Fetch& F, TAdvHttp& H) { Guarded([&] { FetchRedirect(F, H); }); },
                          [this](Fetch& F, TAdvHttp& H) { Guarded([&] { FetchComplete(F, H); }); },
                          [this](Fetch& F, TAdvHttp& H) { Guarded([&] { FetchNeedAuth(F, H); }); },
                          [this](Fetch& F, TAdvHttp& H) { FetchError(F, H); },
                      }) {
    AdvHttp.ConnectTimeout = 5000;
    AdvHttp.Method = "GET";
    AdvHttp.AuthRetries = 3;
    AdvHttp.DefaultUi = false;
    AdvHttp.SetInternetFlags(
        // Nearly every site sends http addresses on to https: redirects
        // between the two are followed (credentials still stay with the
        // host and port they were given for).
        FlagSet({ifIgnoreCertCnInvalid, ifIgnoreCertDateInvalid, ifIgnoreRedirectToHttp,
                 ifIgnoreRedirectToHttps, ifNoUi, ifResynchronize}));
    Connections = std::clamp<int>(Settings.Connections, 1, MaxConnections);
    tmrSkip.setSingleShot(true);
    connect(&tmrSkip, &QTimer::timeout, this, [this] { tmrSkipTimer(); });
}

DownloadRun::~DownloadRun() {
    // Every request ends before its file is closed and removed.
    DropAllFetches();
}

void DownloadRun::Start() {
    QMetaObject::invokeMethod(
        this, [this] { Guarded([this] { StartRun(); }); }, Qt::QueuedConnection);
    AdvHttp.SetProxyUserName(Settings.UserP);
    AdvHttp.SetProxyPassword(Settings.PassP);
    AdvHttp.SetUserName(Settings.UserS);
    AdvHttp.SetPassword(Settings.PassS);
    Connections = std::clamp(Connections, 1, MaxConnections);
}

void DownloadRun::StartRun() {
    if (FClosed)
        return;
    try {
        SaveDocumentPages(FList, FBrowserWindow);
    } catch (const std::exception& e) {
        Report(StartPageURL, e);
    }
    std::vector<std::string> hosts;
    for (const auto* list : {&FList.Pages(), &FList.Pictures(), &FList.Stylesheets()})
        for (const TListerItem& item : *list)
            hosts.push_back(CookieHostOf(item.URL));
    TakeCookiesFor(hosts);
    // What an earlier save stored is taken over when the run reaches it,
    // never fetched ahead.
    if (Settings.SaveExistF)
        for (const TPreviousDownload& record : FList.PreviousDownloads())
            FLogged.insert(record.URL);
    if (FList.FindFirst()) {
        SetProgress(0, FList.Count());
        BeginItem();
    } else {
        NextItem();
    }
}

// The browser's cookies for the hosts not asked for yet, into the session's
// jar. One question for many hosts: each is a round trip to the browser. A
// browser that cannot answer is reported once and not asked again.
void DownloadRun::TakeCookiesFor(const std::vector<std::string>& Hosts) {
    if (!FCookieSource || (AdvHttp.InternetFlags() & FlagSet({ifNoCookies})) != 0)
        return;
    std::vector<std::string> asked;
    for (const std::string& host : Hosts)
        if (!host.empty() && FCookieHosts.insert(host).second)
            asked.push_back(host);
    if (asked.empty())
        return;
    try {
        std::vector<std::string> lines;
        for (const BrowserCookie& cookie : CookiesForHosts(FCookieSource(asked), asked))
            lines.push_back(CookieLine(cookie));
        AdvHttp.AddCookies(lines);
    } catch (const std::exception& e) {
        FCookieSource = nullptr;
        FObserver.ProblemReported(
            FList.PageURL(), std::string("the browser's cookies could not be read: ") + e.what());
    }
}

void DownloadRun::NextItem() {
    if (FClosed)
        return;
    if (FList.FindNext()) {
        SetProgress(FList.CurrentIndex(), FList.Count());
        BeginItem();
    } else {
        FinishRun();
    }
}

void DownloadRun::BeginItem() {
    SetStatus(FList.PhaseCaption());
    const ItemKey key{FList.Phase(), static_cast<std::size_t>(FList.CurrentIndex())};
    // Fetches for items the run has passed (their state changed meanwhile)
    // are not wanted any more.
    while (!FFetches.empty() && FFetches.begin()->first < key)
        DropFetch(FFetches.begin()->first);
    FHead = nullptr;
    if (FList.FindPreviousDownload()) {
        DropFetch(key);
        // Posted, so that a long series of taken-over items does not nest.
        PostForCurrentItem(&DownloadRun::TakeOver);
        FetchAhead();
        return;
    }
    const std::string url = FList.CurrentURL();
    ShowItem();
    const auto found = FFetches.find(key);
    Fetch* fetch =
        found != FFetches.end() && found->second->URL == url ? found->second.get() : nullptr;
    if (!fetch) {
        DropFetch(key);
        fetch = StartFetch(key, url);
    }
    FHead = fetch;
    ++FRequestSerial;
    // What happened to it while it was ahead of the run happens now, in
    // list order.
    for (const std::string& target : std::exchange(fetch->Redirects, {}))
        FList.RenameCurrentAfterRedirect(target);
    if (!fetch->NotFetched.empty()) {
        NotFetched(url, fetch->NotFetched);
        return;
    }
    if (fetch->Done) {
        // Posted, so that a long series of items fetched ahead does not nest.
        PostForCurrentItem(&DownloadRun::ReachedDone);
        FetchAhead();
        return;
    }
    FRequestInFlight = true;
    ArmAutoSkip();
    if (!fetch->RequestError.empty())
        RequestFailed(fetch->RequestError);
    FetchAhead();
}

// The item the run just reached was fetched ahead and is complete.
void DownloadRun::ReachedDone() {
    if (FHead && !FPromptOpen)
        TakeAnswer();
}

// Step runs from the event loop, unless the run has closed or moved on to
// another item (or was told to drop what it posted) by then.
void DownloadRun::PostForCurrentItem(void (DownloadRun::*Step)()) {
    const std::uint64_t generation = ++FGeneration;
    QMetaObject::invokeMethod(
        this,
        [this, generation, Step] {
            if (!FClosed && generation == FGeneration)
                Guarded([this, Step] { (this->*Step)(); });
        },
        Qt::QueuedConnection);
}

// The current item's answer is in: it is stored, or, when it is an error
// page or a broken answer, reported and skipped (its links are relinked as
// not saved); then the next item begins.
void DownloadRun::TakeAnswer() {
    tmrSkip.stop();
    FRequestInFlight = false;
    Fetch& head = *FHead;
    if (head.Failure.empty()) {
        ProcessItem(&head);
    } else {
        FObserver.ProblemReported(FList.CurrentURL(), "not fetched: " + head.Failure);
        FList.SetCurrentState(stSkipped);
        DropFetch({head.Phase, head.Index});
    }
    NextItem();
}

// Browsers keep a few servers busy at once; one at a time stays one.
int DownloadRun::TotalInFlight() const {
    return Connections == 1 ? 1 : std::min(4 * Connections, 32);
}

// Starts the request for the item at Key; a refused address gives a fetch
// that is over, with the reason.
Fetch* DownloadRun::StartFetch(ItemKey Key, const std::string& URL) {
    auto fetch = std::make_unique<Fetch>();
    fetch->Phase = static_cast<TListerPhase>(Key.first);
    fetch->Index = Key.second;
    fetch->URL = URL;
    fetch->Host = ServerOf(URL);
    fetch->CredentialsSeen = FCredentials;
    TakeCookiesFor({CookieHostOf(URL)});
    try {
        FSlots.Start(*fetch, OutputFolder, MaxFileBytes);
    } catch (const std::exception& e) {
        fetch->Done = true;
        fetch->NotFetched = e.what();
        fetch->Body.Discard();
    }
    Fetch* raw = fetch.get();
    FFetches[Key] = std::move(fetch);
    return raw;
}

// Keeps up to Connections requests per server in flight for the items the
// run will reach next, in the order it reaches them.
void DownloadRun::FetchAhead() {
    if (Connections <= 1 || FClosed || FFinishing || FPromptOpen)
        return;
    const int perHost = Connections, total = TotalInFlight();
    // How far ahead the run looks: what is fetched ahead waits on the disk
    // until the run gets there.
    const std::size_t horizon = static_cast<std::size_t>(16 * Connections);
    std::size_t seen = 0;
    const auto visit = [&](TListerPhase Phase, std::size_t From) {
        const std::vector<TListerItem>& items = Phase == phPages      ? FList.Pages()
                                                : Phase == phPictures ? FList.Pictures()
                                                                      : FList.Stylesheets();
        for (std::size_t i = From; i < items.size() && seen < horizon; ++i) {
            if (FSlots.InFlight() >= total)
                return;
            const TListerItem& item = items[i];
            if (item.State != stToDownload)
                continue;
            ++seen;
            const ItemKey key{Phase, i};
            if (FFetches.count(key) || FLogged.count(item.URL))
                continue;
            if (!FSlots.HasRoom(ServerOf(item.URL), perHost, total))
                continue;
            StartFetch(key, item.URL);
        }
    };
    const TListerPhase phase = FList.Phase();
    const std::size_t from = static_cast<std::size_t>(FList.CurrentIndex()) + 1;
    visit(phase, from);
    if (phase == phPages && Settings.ShowPictures)
        visit(phPictures, 0);
    if (phase != phStylesheets)
        visit(phStylesheets, 0);
}

void DownloadRun::DropFetch(ItemKey Key) {
    const auto it = FFetches.find(Key);
    if (it == FFetches.end())
        return;
    FSlots.Release(*it->second);
    if (FHead == it->second.get())
        FHead = nullptr;
    FFetches.erase(it); // its temporary file goes with it
}

void DownloadRun::DropAllFetches() {
    while (!FFetches.empty())
        DropFetch(FFetches.begin()->first);
}

// The current item is reported and skipped from the event loop, so that a
// long series of refused addresses does not nest, and nothing runs inside
// the component's event that led here.
void DownloadRun::NotFetched(const std::string& URL, const std::string& Reason) {
    tmrSkip.stop();
    if (FHead)
        FSlots.Release(*FHead);
    FRequestInFlight = false; // a failure posted for this request is dropped
    FObserver.ProblemReported(URL, "not fetched: " + Reason);
    PostSkip();
}

// From the event loop, unless the run moved on by then: the current item,
// still to be done, is skipped and the next one begins (or the run closes,
// when it was already finishing).
void DownloadRun::PostSkip() {
    const std::uint64_t generation = ++FGeneration;
    QMetaObject::invokeMethod(
        this,
        [this, generation] {
            Guarded([this, generation] {
                if (FClosed || generation != FGeneration)
                    return;
                if (FFinishing) {
                    CloseWindow();
                    return;
                }
                if (FList.CurrentState() == stToDownload)
                    FList.SetCurrentState(stSkipped);
                NextItem();
            });
        },
        Qt::QueuedConnection);
}

// A failure that escaped a step is reported; the run goes on from the event
// loop with the next item (or closes, when it was finishing), so that it
// never waits for an event that will not come.
void DownloadRun::Guarded(const std::function<void()>& Step) noexcept {
    std::string reason;
    try {
        Step();
        return;
    } catch (const std::exception& e) {
        reason = e.what();
    } catch (...) {
        reason = "unexpected failure";
    }
    try {
        FObserver.ProblemReported(FList.CurrentURL(), reason);
    } catch (...) {
        // The view failed as well; the run still goes on.
    }
    if (FClosed)
        return;
    EndCurrentRequest();
    PostSkip();
}

// Reports a failed request of the current item from the event loop (not
// inside the component's event), unless the run has moved on by then; skips
// the item where nobody watches, while the window waits for the user as
// before, now knowing why.
void DownloadRun::RequestFailed(const std::string& Reason) {
    if (FClosed)
        return;
    const std::uint64_t serial = FRequestSerial;
    const std::string url = FList.CurrentURL();
    QMetaObject::invokeMethod(
        this,
        [this, serial, url, Reason] {
            if (FClosed || !FHead || serial != FRequestSerial)
                return;
            Guarded([&] {
                FObserver.ProblemReported(url, "not fetched: " + Reason);
                if (SkipFailedRequests)
                    SkipCurrent();
            });
        },
        Qt::QueuedConnection);
}

void DownloadRun::TakeOver() {
    ProcessItem(nullptr);
    NextItem();
}

void DownloadRun::ArmAutoSkip() {
    // While the password prompt is open the request waits for the user, not
    // for the server: no countdown runs (progress handled meanwhile by the
    // prompt's own loop must not start one).
    if (!Settings.AutoSkip || FPromptOpen || !FHead)
        return;
    tmrSkip.stop();
    // An interval of 0 never fires. The countdown is the item's own: an item
    // fetched ahead has been silent since it last heard from its server.
    if (Settings.SkipSec > 0) {
        const auto silent = std::chrono::duration_cast<std::chrono::milliseconds>(
            Fetch::Clock::now() - FHead->LastHeard);
        const auto left = std::chrono::milliseconds(Settings.SkipSec * 1000) - silent;
        tmrSkip.setInterval(static_cast<int>(std::max<std::int64_t>(left.count(), 1)));
        tmrSkip.start();
    }
}

bool DownloadRun::IsTextResponse(const std::vector<std::string>& Headers) {
    bool text = false;
    for (const std::string& line : Headers) {
        const std::string lower = LowerAscii(line);
        if (lower.rfind("content-type:", 0) == 0)
            text = lower.find("text/", 13) != std::string::npos;
    }
    return text;
}

bool DownloadRun::IsTextFile(const std::string& Path) {
    const std::string extension = DotExtension(Path.substr(Path.rfind('/') + 1));
    for (const char* text : {".htm", ".html", ".css", ".txt", ".js", ".xml", ".svg"})
        if (extension == text)
            return true;
    for (const char* binary :
         {".gif", ".png", ".jpg", ".jpeg", ".ico", ".webp", ".bmp", ".zip", ".exe", ".pdf", ".mp3"})
        if (extension == binary)
            return false;
    char head[1024];
    const UniqueFd fd(::open(Path.c_str(), O_RDONLY | O_CLOEXEC));
    const ssize_t length = fd.IsOpen() ? ReadFull(fd.Get(), head, sizeof head) : -1;
    if (length <= 0)
        return false;
    const std::string_view bytes(head, static_cast<std::size_t>(length));
    if (bytes.find('\0') != std::string_view::npos)
        return false;
    std::size_t start = bytes.rfind("\xEF\xBB\xBF", 0) == 0 ? 3 : 0;
    while (start < bytes.size() && static_cast<unsigned char>(bytes[start]) <= ' ')
        ++start;
    return start < bytes.size() && bytes[start] == '<';
}

// Stores what Fetched brought as the current item (or, without a fetch,
// takes over the file of an earlier save), classifies and scans it.
void DownloadRun::ProcessItem(Fetch* Fetched) {
    const std::string url = FList.CurrentURL();
    try {
        bool text;
        if (Fetched) {
            if (!Fetched->StoreError.empty())
                throw std::runtime_error(Fetched->StoreError);
            text = IsTextResponse(Fetched->Headers);
            if (text && !IsHtmlExtension(DotExtension(FList.CurrentFileName())))
                FList.RenameCurrentAsHtml();
            Fetched->Body.Commit(OutputFolder + FList.CurrentFileName(), 0644, true);
        } else {
            // A file of an earlier save keeps its name; it has no response
            // of its own to be classified by.
            text = IsTextFile(OutputFolder + FList.CurrentFileName());
        }
        if (text)
            FList.ScanCurrentPage();
        FList.SetCurrentState(text ? stSavedText : stSavedOther);
    } catch (const std::exception& e) {
        Report(url, e);
        // Never relinked to a file that may not be there.
        FList.SetCurrentState(stSkipped);
    }
    if (Fetched)
        DropFetch({Fetched->Phase, Fetched->Index});
}

// The status line's percentage; halves go to the even neighbour (the default
// rounding mode).
long DownloadRun::Percent(int Position, int Max) {
    return Max > 0 ? std::lrint(static_cast<double>(Position) / static_cast<double>(Max) * 100.0)
                   : 0;
}

std::string DownloadRun::StatusText(int Position, int Max, const std::string& Text,
                                    std::int64_t TotalReceived) {
    std::string status = std::to_string(Percent(Position, Max)) + "% " + Text;
    if (Text != "Relink files")
        status += " (" + std::to_string(TotalReceived) + " bytes received)";
    return status;
}

void DownloadRun::SetStatus(const std::string& Text) {
    FObserver.StatusChanged(StatusText(FPosition, FMax, Text, FTotalReceived));
    FObserver.TitleChanged(std::to_string(Percent(FPosition, FMax)) +
                           "% Larkspool: " + StartPageTitle);
}

void DownloadRun::SetProgress(int Position, int Max) {
    FPosition = Position;
    FMax = Max;
    FObserver.ProgressChanged(Position, Max);
}

void DownloadRun::ShowItem() {
    const std::string title = FList.CurrentTitle();
    FObserver.ItemChanged(title.empty() ? FList.CurrentURL() : title, FList.CurrentURL());
}

void DownloadRun::FinishRun() {
    if (FClosed)
        return;
    tmrSkip.stop();
    FRequestInFlight = false;
    FFinishing = true;
    DropAllFetches();
    try {
        FList.SavePreviousDownloads();
    } catch (const std::exception& e) {
        Report({}, e);
    }
    RelinkAll();
    FClosed = true; // no countdown or button acts any more
    QMetaObject::invokeMethod(
        this, [this] { CloseWindow(); }, Qt::QueuedConnection);
}

void DownloadRun::RelinkAll() {
    FList.ResetToPages();
    SetProgress(FPosition, FList.Count());
    for (;;) {
        bool relinked;
        try {
            relinked = RelinkNext(FList);
        } catch (const std::exception& e) {
            // The page keeps its links to the server; the others go on.
            Report(FList.CurrentURL(), e);
            FList.SetCurrentState(stRelinked);
            continue;
        }
        if (!relinked)
            break;
        SetProgress(FList.CurrentIndex() + 1, FMax);
        SetStatus("Relink files");
        ShowItem();
    }
    // Style sheets name their fonts and pictures relative to themselves.
    RelinkStyleSheets(FList, [this](const std::string& URL, const std::string& Why) {
        FObserver.ProblemReported(URL, Why);
    });
}

void DownloadRun::CloseWindow() {
    FClosed = true;
    tmrSkip.stop();
    FObserver.RunClosed();
}

void DownloadRun::Report(const std::string& URL, const std::exception& Error) {
    FObserver.ProblemReported(URL, Error.what());
}

void DownloadRun::SkipCurrent() {
    if (FClosed)
        return;
    EndCurrentRequest();
    FList.SetCurrentState(stSkipped);
    NextItem();
}

// The current item's request ends without any further event, and a step
// still posted for the current item is dropped.
void DownloadRun::EndCurrentRequest() {
    tmrSkip.stop();
    if (FHead)
        DropFetch({FHead->Phase, FHead->Index});
    FRequestInFlight = false;
    ++FGeneration;
}

// Stop ends the requests still in flight and drops what came ahead of the
// run, rather than waiting for them: a stalled server would hold the Stop
// for as long as it stalls, and the copy then holds exactly the items the
// window showed as done.
void DownloadRun::Stop() {
    if (FClosed)
        return;
    EndCurrentRequest();
    DropAllFetches();
    FinishRun();
}

void DownloadRun::Abort() {
    if (FClosed)
        return;
    EndCurrentRequest();
    DropAllFetches();
    CloseWindow();
}

std::string DownloadRun::LargerThanLimit() const {
    return "larger than " + std::to_string(MaxFileBytes) + " bytes";
}

void DownloadRun::FetchProgress(Fetch& F, TAdvHttp& Http) {
    const std::int64_t bytes = Http.BytesReceived;
    FTotalReceived += bytes;
    F.Received += bytes;
    F.LastHeard = Fetch::Clock::now();
    const bool current = &F == FHead;
    if (current)
        tmrSkip.stop();
    SetStatus(FList.PhaseCaption());
    std::string reason;
    // A compressed body may grow far more on the disk than on the wire.
    if (std::max<std::int64_t>(F.Received, Http.TotalBytesRead) > MaxFileBytes)
        reason = LargerThanLimit();
    else if (MaxFileTime.count() > 0 && F.LastHeard - F.Started > MaxFileTime)
        reason = "not finished after " + std::to_string(MaxFileTime.count()) + " s";
    if (!reason.empty()) {
        GiveUp(F, reason);
        return;
    }
    if (current && FRequestInFlight)
        ArmAutoSkip();
}

// A request that goes on too long ends; its item is reported and skipped
// now, or when the run reaches it.
void DownloadRun::GiveUp(Fetch& F, const std::string& Reason) {
    if (&F == FHead) {
        if (FRequestInFlight)
            NotFetched(F.URL, Reason);
        return;
    }
    FSlots.Release(F);
    F.Done = true;
    F.NotFetched = Reason;
    F.Body.Discard();
    FetchAhead();
}

void DownloadRun::FetchRedirect(Fetch& F, TAdvHttp& Http) {
    if (&F == FHead)
        FList.RenameCurrentAfterRedirect(Http.RedirectURL);
    else
        F.Redirects.push_back(Http.RedirectURL);
}

void DownloadRun::FetchComplete(Fetch& F, TAdvHttp& Http) {
    if (Http.FileError() == EFBIG) {
        FSlots.Finished(F);
        GiveUp(F, LargerThanLimit());
        return;
    }
    F.Failure = FailureOf(Http);
    F.Headers = Http.ResponseHeaders;
    if (const int error = Http.FileError())
        F.StoreError = "Cannot write file \"" + OutputFolder + "\": " + std::strerror(error);
    FSlots.Finished(F);
    F.Done = true;
    if (&F == FHead && !FPromptOpen) {
        TakeAnswer();
        return;
    }
    // Taken over when the run reaches it (or once the prompt is answered).
    if (!F.Failure.empty())
        F.Body.Discard();
    FetchAhead();
}

void DownloadRun::FetchError(Fetch& F, TAdvHttp& Http) {
    const std::string reason = TAdvHttp::ErrorText(Http.LastError);
    if (&F == FHead) {
        if (FRequestInFlight)
            RequestFailed(reason);
        return;
    }
    // Reported when the run reaches it, in list order; its server is not
    // held meanwhile.
    F.RequestError = reason;
    FSlots.Release(F);
    FetchAhead();
}

std::string DownloadRun::FailureOf(const TAdvHttp& Http) {
    const DWORD error = Http.LastError;
    if (error != 0 && error != ERROR_IO_PENDING)
        return TAdvHttp::ErrorText(error);
    const std::vector<std::string>& headers = Http.ResponseHeaders;
    if (headers.empty() || headers.front().rfind("HTTP/", 0) != 0)
        return "The server returned an invalid or unrecognized response";
    // "HTTP/1.1 404 Not Found": the code, then the reason phrase, if any.
    const std::string& line = headers.front();
    const std::size_t codeAt = line.find(' ');
    const int code = codeAt == std::string::npos ? 0 : std::atoi(line.c_str() + codeAt + 1);
    if (code >= 200 && code < 300)
        return {};
    std::size_t reasonAt = line.find(' ', codeAt + 1);
    std::string reason = reasonAt == std::string::npos ? std::string() : line.substr(reasonAt + 1);
    while (!reason.empty() && static_cast<unsigned char>(reason.back()) <= ' ')
        reason.pop_back();
    return "HTTP " + std::to_string(code) + (reason.empty() ? "" : " " + reason);
}

void DownloadRun::FetchNeedAuth(Fetch& F, TAdvHttp&) {
    if (!FPrompt || FClosed || F.Slot < 0)
        return;
    // The components ask one at a time (they share a gate), so a second
    // challenge arrives only after the first was answered: it tries that
    // answer before the user is asked again.
    if (F.CredentialsSeen != FCredentials) {
        F.CredentialsSeen = FCredentials;
        return;
    }
    if (FPromptOpen)
        return;
    // The run holds while the user is asked: no skip, nothing new begins,
    // and the time the prompt was open does not count.
    tmrSkip.stop();
    FPromptOpen = true;
    std::string user, password;
    bool answered = false;
    try {
        answered = FPrompt->AskCredentials(HostPartOf(F.URL), user, password);
    } catch (...) {
        FPromptOpen = false;
        throw;
    }
    FPromptOpen = false;
    if (answered) {
        ++FCredentials;
        FSlots.SetSiteCredentials(user, password);
        F.CredentialsSeen = FCredentials;
    }
    const auto now = Fetch::Clock::now();
    for (auto& [key, fetch] : FFetches)
        if (fetch->Slot >= 0)
            fetch->LastHeard = now;
    // What arrived meanwhile is taken over from the event loop.
    const std::uint64_t generation = FGeneration;
    QMetaObject::invokeMethod(
        this,
        [this, generation] {
            if (!FClosed && generation == FGeneration)
                Guarded([this] { Resume(); });
        },
        Qt::QueuedConnection);
}

// The run goes on after the prompt: the current item, if it was answered
// meanwhile, is taken over; otherwise its countdown starts again.
void DownloadRun::Resume() {
    if (FPromptOpen || !FHead)
        return;
    if (FHead->Done) {
        TakeAnswer();
        return;
    }
    if (FRequestInFlight)
        ArmAutoSkip();
    FetchAhead();
}

void DownloadRun::tmrSkipTimer() {
    tmrSkip.stop();
    if (FClosed || !FRequestInFlight || FPromptOpen)
        return;
    SkipCurrent();
}

} // namespace larkspool
