#pragma once

// TAdvHttp: one HTTP or HTTPS request at a time through the WinInet subset,
// reporting progress and outcome through notify events.
//
// By default a request runs asynchronously: Execute returns at once, the
// layer reports progress from its own thread, a worker thread of the
// component reads the response, and, for a component that delivers to the
// main thread (a Qt application exists), every handler runs on the main
// thread while the delivering thread waits; an exception thrown by a handler
// is carried back to the delivering thread. One delivery completes before the
// next begins. Progress (OnResponseReceived) alone is posted without waiting:
// its handler still runs on the main thread, in order with the other events
// and with BytesReceived as that report's count, but an exception it throws
// is dropped.
//
// Abort ends the request in flight at any moment; afterwards no event of that
// request reaches a handler, and Execute may start the next one at once.
// Each request has its own identity and handles, so a worker still winding
// down never touches the next request's state.
//
// Byte counts are 64-bit so that bodies beyond 2 GB count correctly.

#include "platform/wininet/WinInet.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace larkspool {

enum TInternetFlag : std::uint8_t {
    ifCacheIfNetFail = 0,
    ifDontCache,
    ifHyperLink,
    ifIgnoreCertCnInvalid,
    ifIgnoreCertDateInvalid,
    ifIgnoreRedirectToHttp,
    ifIgnoreRedirectToHttps,
    ifKeepConnection,
    ifNeedFile,
    ifNoAuth,
    ifNoAutoRedirect,
    ifNoCacheWrite,
    ifNoCookies,
    ifNoUi,
    ifPragmaNoCache,
    ifReload,
    ifResynchronize,
};

// A set of TInternetFlag: bit n stands for enumerator n.
using TInternetFlags = std::uint32_t;
constexpr TInternetFlags FlagSet(std::initializer_list<TInternetFlag> Flags) {
    TInternetFlags set = 0;
    for (TInternetFlag f : Flags)
        set |= 1u << f;
    return set;
}
// The WinInet request flags of a set.
DWORD RequestFlagsOf(TInternetFlags Flags);

// A failure of the component: its message is the WinInet text for the code.
class EAdvHttpError : public std::runtime_error {
public:
    EAdvHttpError(const std::string& Message, DWORD Code)
        : std::runtime_error(Message), Code(Code) {}
    DWORD Code;
};

// A turn that one holder has at a time (the password prompt). Made of a plain
// mutex and condition rather than a timed mutex, whose timed wait the thread
// checker cannot follow.
class TakingTurns {
public:
    // Waits for the turn; false when GiveUp said so first (asked every 20 ms).
    bool Take(const std::function<bool()>& GiveUp);
    void Release();

private:
    std::mutex FLock;
    std::condition_variable FFree;
    bool FTaken = false;
};

class TAdvHttp {
public:
    using TNotifyEvent = std::function<void(TAdvHttp& Sender)>;

    // DeliverOnMainThread: handlers run on the thread of the Qt application
    // (when one exists) as for a component owned by a window; otherwise on
    // the thread that raises the event.
    explicit TAdvHttp(bool DeliverOnMainThread = true);
    ~TAdvHttp();
    TAdvHttp(const TAdvHttp&) = delete;
    TAdvHttp& operator=(const TAdvHttp&) = delete;

    // Requests.
    bool Execute(bool Synchronous = false);
    void Abort();

    // Properties.
    std::int32_t ConnectTimeout = 30000;
    bool RaiseExceptions = true;
    std::string Method = "GET";
    bool DefaultUi = true;
    std::int32_t AuthRetries = 3;

    const std::string& UserAgent() const { return FUserAgent; }
    void SetUserAgent(const std::string& Value);
    const std::string& Proxy() const { return FProxy; }
    void SetProxy(const std::string& Value);

    const std::string& URL() const { return FURL; }
    void SetURL(const std::string& Value);
    const std::string& HostName() const { return FHostName; }
    void SetHostName(const std::string& Value);
    const std::string& URLPath() const { return FURLPath; }
    void SetURLPath(const std::string& Value);
    const std::string& ExtraInfo() const { return FExtraInfo; }
    void SetExtraInfo(const std::string& Value);
    std::int32_t Port() const { return FPort; }
    void SetPort(std::int32_t Value);
    bool SSL() const { return FSSL; }
    void SetSSL(bool Value);

    const std::string& UserName() const { return FUserName; }
    void SetUserName(const std::string& Value);
    const std::string& Password() const { return FPassword; }
    void SetPassword(const std::string& Value);
    const std::string& ProxyUserName() const { return FProxyUserName; }
    void SetProxyUserName(const std::string& Value);
    const std::string& ProxyPassword() const { return FProxyPassword; }
    void SetProxyPassword(const std::string& Value);

    const std::vector<std::string>& RequestHeaders() const { return FRequestHeaders; }
    void SetRequestHeaders(const std::vector<std::string>& Lines) { FRequestHeaders = Lines; }
    const std::vector<std::string>& AcceptTypes() const { return FAcceptTypes; }
    void SetAcceptTypes(const std::vector<std::string>& Lines) { FAcceptTypes = Lines; }

    TInternetFlags InternetFlags() const { return FInternetFlags; }
    void SetInternetFlags(TInternetFlags Value);
    DWORD RequestFlags() const { return FRequestFlags; }

    // The body received, up to its first zero byte.
    std::string Text() const;
    // The body sent with every following request.
    void SetText(const std::string& Value);

    // Events.
    TNotifyEvent OnClosingConnection, OnConnectedToServer, OnConnectingToServer, OnConnectionClosed,
        OnIntermediateResponse, OnNameResolved, OnReceivingResponse, OnResponseReceived, OnRedirect,
        OnRequestComplete, OnRequestSent, OnResolvingName, OnSendingRequest, OnStateChange,
        OnDataAvailable, OnNeedAuth, OnNeedProxyAuth, OnError;

    // State read by handlers and callers.
    std::string ResponseStream;               // body of the current or last response
    std::vector<std::string> ResponseHeaders; // status line, headers, one empty entry
    std::string RequestStream;                // body sent with every request
    // (Counters are atomic: the layer's thread and the worker write them.)
    std::atomic<std::int32_t> StatusCode{0};
    std::atomic<DWORD> LastError{0};
    std::string RedirectURL;
    std::string ServerAddress;
    std::atomic<std::int32_t> BytesSent{0};
    std::atomic<std::int32_t> BytesReceived{0};
    std::atomic<std::int64_t> TotalBytesReceived{0};
    std::atomic<std::int64_t> LastReadSize{0};
    std::atomic<std::int64_t> TotalBytesRead{0};
    std::atomic<std::int64_t> ChunkPosition{0};
    const void* StatusInfo = nullptr;
    DWORD StatusInfoLength = 0;

    // The message text for an error code.
    static std::string ErrorText(DWORD Code);

    // Several components fetching for one task share one session: its
    // connections, TLS sessions and cookies. Owner must outlive this one.
    // Set before the first request.
    void ShareSessionOf(TAdvHttp& Owner) { FSessionOwner = &Owner; }

    // The browser's cookies (cookies.txt lines) for the session's jar: sent
    // with the requests that follow (unless ifNoCookies), together with those
    // the answers set. Kept until the session opens when it is not open yet.
    void AddCookies(const std::vector<std::string>& Lines);

    // Where the next bodies go: with a descriptor (kept open by the caller),
    // each block is written to it as it arrives and flushed to disk at the
    // end, instead of being held in ResponseStream. -1: in memory again.
    // With Limit above zero, a body that grows past Limit bytes (as written,
    // after decoding) ends the request early with FileError() EFBIG.
    void SetResponseFile(int Fd, std::int64_t Limit = 0) {
        FResponseFd = Fd;
        FResponseLimit = Limit;
    }
    // The system's error number when writing or flushing the body failed
    // (the request then ends early); 0 otherwise.
    int FileError() const { return FFileError; }

    // Shared by components that must not ask for a password at the same
    // time: a challenge waits for it (on the component's own thread, never
    // the main one) before its OnNeedAuth or OnNeedProxyAuth runs, so a
    // second challenge comes after the first one's answer.
    std::shared_ptr<TakingTurns> AuthGate;

private:
    struct Request;

    void OpenInternet();
    void CloseInternet();
    void ReopenInternet();
    void CloseRequest(Request& R);
    void SendRequest(const std::shared_ptr<Request>& R);
    void ProcessResponse(const std::shared_ptr<Request>& R);
    bool CheckStatus(const std::shared_ptr<Request>& R);
    void ReadHeaders(const std::shared_ptr<Request>& R);
    void ReadData(const std::shared_ptr<Request>& R);
    bool WaitForCompletion(Request& R);
    void StartWorker(const std::shared_ptr<Request>& R);
    void ApplyCredential(DWORD Option, const std::string& Value);
    void CheckResult(bool Ok);
    void SetError(DWORD Code);
    void CrackURL();
    void BuildURL();
    void CallEvent(const TNotifyEvent& Handler, const std::shared_ptr<Request>& R);
    void NotifyProgress(std::int32_t Bytes, const std::shared_ptr<Request>& R);
    void Notify(const std::shared_ptr<Request>& R, DWORD Status, const void* Info, DWORD Length);
    std::shared_ptr<Request> Current() const;

    static void StatusCallback(HINTERNET Handle, DWORD_PTR Context, DWORD Status, LPVOID Info,
                               DWORD Length);

    std::string FUserAgent = "Vandrell Larkspool        ";
    std::string FProxy;
    std::string FURL;
    std::string FHostName = "localhost";
    std::string FURLPath;
    std::string FExtraInfo;
    std::int32_t FPort = 80;
    bool FSSL = false;
    std::string FUserName, FPassword, FProxyUserName, FProxyPassword;
    std::vector<std::string> FRequestHeaders, FAcceptTypes;
    TInternetFlags FInternetFlags;
    DWORD FRequestFlags = 0;

    HINTERNET FInternet = nullptr;
    TAdvHttp* FSessionOwner = nullptr;
    std::vector<std::string> FPendingCookies; // for the session once it opens
    int FResponseFd = -1;
    std::int64_t FResponseLimit = 0;
    std::atomic<int> FFileError{0};
    DWORD FAsyncFlag = 0;
    const bool FDeliverOnMainThread;

    mutable std::mutex FLock;          // the current request, the worker's jobs
    std::shared_ptr<Request> FCurrent; // the request in flight, if any
    // The worker reads one response after another; it is kept between
    // requests rather than started anew for each.
    std::thread FWorker;
    std::condition_variable FJobsChanged;
    std::vector<std::shared_ptr<Request>> FJobs;
    bool FStopWorker = false;
    void WorkerLoop();
    std::atomic<bool> FDestroying{false};
    // Gone with the component: progress posted to the main thread checks it.
    std::shared_ptr<void> FAlive = std::make_shared<int>(0);
    std::mutex FDeliveryLock; // one event delivery at a time
};

} // namespace larkspool
