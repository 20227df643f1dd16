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

#include <cmath>
#include <cstdlib>
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

} // namespace

DownloadRun::DownloadRun(TLister& List, Variant BrowserWindow, IRunObserver& Observer,
                         ICredentialsPrompt* Prompt)
    : FList(List), FBrowserWindow(std::move(BrowserWindow)), FObserver(Observer), FPrompt(Prompt) {
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
    // The component would swallow what a handler lets out, and the run would
    // then wait for ever: nothing leaves a handler.
    AdvHttp.OnResponseReceived = [this](TAdvHttp&) {
        Guarded([this] { AdvHttpResponseReceived(); });
    };
    AdvHttp.OnRedirect = [this](TAdvHttp&) { Guarded([this] { AdvHttpRedirect(); }); };
    AdvHttp.OnRequestComplete = [this](TAdvHttp&) {
        Guarded([this] { AdvHttpRequestComplete(); });
    };
    AdvHttp.OnNeedAuth = [this](TAdvHttp&) { Guarded([this] { AdvHttpNeedAuth(); }); };
    tmrSkip.setSingleShot(true);
    connect(&tmrSkip, &QTimer::timeout, this, [this] { tmrSkipTimer(); });
}

DownloadRun::~DownloadRun() {
    AdvHttp.Abort();
}

void DownloadRun::Start() {
    AdvHttp.OnError = [this](TAdvHttp& Http) {
        RequestFailed(TAdvHttp::ErrorText(Http.LastError));
    };
    QMetaObject::invokeMethod(
        this, [this] { Guarded([this] { StartRun(); }); }, Qt::QueuedConnection);
    AdvHttp.SetProxyUserName(Settings.UserP);
    AdvHttp.SetProxyPassword(Settings.PassP);
    AdvHttp.SetUserName(Settings.UserS);
    AdvHttp.SetPassword(Settings.PassS);
}

void DownloadRun::StartRun() {
    if (FClosed)
        return;
    try {
        SaveDocumentPages(FList, FBrowserWindow);
    } catch (const std::exception& e) {
        Report(StartPageURL, e);
    }
    if (FList.FindFirst()) {
        SetProgress(0, FList.Count());
        BeginItem();
    } else {
        NextItem();
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
    if (FList.FindPreviousDownload()) {
        // Posted, so that a long series of taken-over items does not nest.
        const std::uint64_t generation = ++FGeneration;
        QMetaObject::invokeMethod(
            this, [this, generation] { Guarded([this, generation] { TakeOver(generation); }); },
            Qt::QueuedConnection);
        return;
    }
    const std::string url = FList.CurrentURL();
    try {
        ShowItem();
        // The component refuses some addresses outright (another scheme,
        // parts too long); nothing was sent, so there is nothing to wait for.
        AdvHttp.SetURL(url);
        FItemReceived = 0;
        FItemStarted = std::chrono::steady_clock::now();
        FRequestInFlight = true;
        ++FRequestSerial;
        AdvHttp.Execute(false);
    } catch (const std::exception& e) {
        NotFetched(url, e.what());
        return;
    }
    ArmAutoSkip();
}

// The current item is reported and skipped from the event loop, so that a
// long series of refused addresses does not nest, and nothing runs inside
// the component's event that led here.
void DownloadRun::NotFetched(const std::string& URL, const std::string& Reason) {
    tmrSkip.stop();
    AdvHttp.Abort();
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
    tmrSkip.stop();
    AdvHttp.Abort();
    FRequestInFlight = false;
    PostSkip();
}

// Reports a failed request from the event loop (not inside the component's
// event), unless the run has moved on by then; skips its item where nobody
// watches, while the window waits for the user as before, now knowing why.
void DownloadRun::RequestFailed(const std::string& Reason) {
    if (FClosed || !FRequestInFlight)
        return;
    const std::uint64_t serial = FRequestSerial;
    const std::string url = FList.CurrentURL();
    QMetaObject::invokeMethod(
        this,
        [this, serial, url, Reason] {
            if (FClosed || !FRequestInFlight || serial != FRequestSerial)
                return;
            Guarded([&] {
                FObserver.ProblemReported(url, "not fetched: " + Reason);
                if (SkipFailedRequests)
                    SkipCurrent();
            });
        },
        Qt::QueuedConnection);
}

void DownloadRun::TakeOver(std::uint64_t Generation) {
    if (FClosed || Generation != FGeneration)
        return;
    ProcessItem(false);
    NextItem();
}

void DownloadRun::ArmAutoSkip() {
    // While the password prompt is open the request waits for the user, not
    // for the server: no countdown runs (progress handled meanwhile by the
    // prompt's own loop must not start one).
    if (!Settings.AutoSkip || FPromptOpen)
        return;
    tmrSkip.stop();
    // An interval of 0 never fires.
    if (Settings.SkipSec > 0) {
        tmrSkip.setInterval(Settings.SkipSec * 1000);
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

void DownloadRun::ProcessItem(bool Save) {
    const std::string url = FList.CurrentURL();
    try {
        bool text;
        if (Save) {
            text = IsTextResponse(AdvHttp.ResponseHeaders);
            if (text && !IsHtmlExtension(DotExtension(FList.CurrentFileName())))
                FList.RenameCurrentAsHtml();
            WriteFileAtomically(OutputFolder + FList.CurrentFileName(), AdvHttp.ResponseStream);
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

// The request in flight ends without any further event, and a take-over
// still posted for the current item is dropped.
void DownloadRun::EndCurrentRequest() {
    tmrSkip.stop();
    AdvHttp.Abort();
    FRequestInFlight = false;
    ++FGeneration;
}

void DownloadRun::Stop() {
    if (FClosed)
        return;
    EndCurrentRequest();
    FinishRun();
}

void DownloadRun::Abort() {
    if (FClosed)
        return;
    EndCurrentRequest();
    CloseWindow();
}

void DownloadRun::AdvHttpResponseReceived() {
    tmrSkip.stop();
    FTotalReceived += AdvHttp.BytesReceived;
    FItemReceived += AdvHttp.BytesReceived;
    SetStatus(FList.PhaseCaption());
    if (FRequestInFlight && FItemReceived > MaxFileBytes) {
        NotFetched(FList.CurrentURL(), "larger than " + std::to_string(MaxFileBytes) + " bytes");
        return;
    }
    if (FRequestInFlight && MaxFileTime.count() > 0 &&
        std::chrono::steady_clock::now() - FItemStarted > MaxFileTime) {
        NotFetched(FList.CurrentURL(),
                   "not finished after " + std::to_string(MaxFileTime.count()) + " s");
        return;
    }
    ArmAutoSkip();
}

void DownloadRun::AdvHttpRedirect() {
    FList.RenameCurrentAfterRedirect(AdvHttp.RedirectURL);
}

void DownloadRun::AdvHttpRequestComplete() {
    tmrSkip.stop();
    FRequestInFlight = false;
    const std::string failure = FailureOf(AdvHttp);
    if (failure.empty()) {
        ProcessItem(true);
    } else {
        // An error page or a broken answer is not the item: it is not
        // stored, and its links are relinked as not saved.
        FObserver.ProblemReported(FList.CurrentURL(), "not fetched: " + failure);
        FList.SetCurrentState(stSkipped);
    }
    NextItem();
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

void DownloadRun::AdvHttpNeedAuth() {
    if (!FPrompt)
        return;
    // One prompt at a time: the component delivers one event at a time, so
    // a second challenge waits on its thread for the first answer. (Waiting
    // here instead would nest inside the open prompt and never end.)
    if (FPromptOpen || FClosed || !FRequestInFlight)
        return;
    // Two requests never run at once: no skip while the user is asked, and
    // the time the prompt was open does not count.
    tmrSkip.stop();
    FPromptOpen = true;
    std::string user, password;
    bool answered = false;
    try {
        answered = FPrompt->AskCredentials(HostPartOf(FList.CurrentURL()), user, password);
    } catch (...) {
        FPromptOpen = false;
        throw;
    }
    FPromptOpen = false;
    if (answered) {
        AdvHttp.SetUserName(user);
        AdvHttp.SetPassword(password);
    }
    if (!FClosed && FRequestInFlight)
        ArmAutoSkip();
}

void DownloadRun::tmrSkipTimer() {
    tmrSkip.stop();
    if (FClosed || !FRequestInFlight || FPromptOpen)
        return;
    SkipCurrent();
}

} // namespace larkspool
