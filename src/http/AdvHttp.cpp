#include "http/AdvHttp.h"

#include "platform/AsciiText.h"
#include "platform/Descriptors.h"
#include "platform/MainThreadMailbox.h"

#include <QCoreApplication>
#include <QThread>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <unistd.h>
#include <unordered_map>
#include <utility>

namespace larkspool {

// One request: its identity (the context handed to the layer), its own
// handles, and the completion the worker or a synchronous caller waits for.
struct TAdvHttp::Request {
    std::uint64_t Id = 0;
    HINTERNET Connect = nullptr;
    HINTERNET Handle = nullptr;
    bool Synchronous = false;
    std::atomic<bool> Aborted{false};
    int AuthAttempts = 0;
    int BodyFd = -1; // where the body goes, when not to ResponseStream
    std::int64_t BodyLimit = 0;

    std::mutex M;
    std::condition_variable CV;
    bool WorkerRunning = false;
    bool Completed = false; // the awaited completion arrived
    bool Failed = false;
    DWORD Error = 0;
    DWORD ReadCount = 0;            // filled in by the layer when a read completes
    std::unique_ptr<char[]> Buffer; // not cleared: the layer fills what it reports
};

namespace {

constexpr DWORD kReadBlock = 16384;
// A body written to a file is read in larger blocks: fewer hand-overs
// between the threads and fewer writes for a large file.
constexpr DWORD kFileReadBlock = 256 * 1024;

// Live requests by the context handed to the layer, so that notifications of
// a closed or aborted request, or of a destroyed component, are dropped.
struct Registry {
    std::mutex M;
    std::uint64_t NextId = 1;
    struct Entry {
        TAdvHttp* Owner;
        std::weak_ptr<void> Request;
    };
    std::unordered_map<std::uint64_t, Entry> Live;
    std::unordered_map<TAdvHttp*, int> Active; // callbacks running per component
    std::condition_variable Idle;
};

Registry& TheRegistry() {
    static Registry* registry = new Registry; // lives as long as any layer thread may call
    return *registry;
}

constexpr struct {
    TInternetFlag Flag;
    DWORD Value;
} kFlagTable[] = {
    {ifCacheIfNetFail, INTERNET_FLAG_CACHE_IF_NET_FAIL},
    {ifDontCache, INTERNET_FLAG_DONT_CACHE},
    {ifHyperLink, INTERNET_FLAG_HYPERLINK},
    {ifIgnoreCertCnInvalid, INTERNET_FLAG_IGNORE_CERT_CN_INVALID},
    {ifIgnoreCertDateInvalid, INTERNET_FLAG_IGNORE_CERT_DATE_INVALID},
    {ifIgnoreRedirectToHttp, INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTP},
    {ifIgnoreRedirectToHttps, INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTPS},
    {ifKeepConnection, INTERNET_FLAG_KEEP_CONNECTION},
    {ifNeedFile, INTERNET_FLAG_NEED_FILE},
    {ifNoAuth, INTERNET_FLAG_NO_AUTH},
    {ifNoAutoRedirect, INTERNET_FLAG_NO_AUTO_REDIRECT},
    {ifNoCacheWrite, INTERNET_FLAG_NO_CACHE_WRITE},
    {ifNoCookies, INTERNET_FLAG_NO_COOKIES},
    {ifNoUi, INTERNET_FLAG_NO_UI},
    {ifPragmaNoCache, INTERNET_FLAG_PRAGMA_NOCACHE},
    {ifReload, INTERNET_FLAG_RELOAD},
    {ifResynchronize, INTERNET_FLAG_RESYNCHRONIZE},
};

std::string TextAt(const void* Info, DWORD Length) {
    if (!Info)
        return {};
    const char* text = static_cast<const char*>(Info);
    return std::string(text, strnlen(text, Length));
}

DWORD NumberAt(const void* Info, DWORD Length) {
    DWORD n = 0;
    if (Info && Length >= sizeof n)
        std::memcpy(&n, Info, sizeof n);
    return n;
}

// The body's length as the response announces it, or 0.
std::uint64_t ContentLength(const std::vector<std::string>& Headers) {
    static constexpr std::string_view kName = "content-length:";
    for (const std::string& line : Headers) {
        if (line.size() > kName.size() && StartsWithNoCase(line, kName))
            return std::strtoull(line.c_str() + kName.size(), nullptr, 10);
    }
    return 0;
}

// Room for the announced body at once, so that a large body is not copied
// over and over as the stream grows. The announced length is only a hint,
// capped so that a lying server cannot make us reserve without bound.
void ReserveForBody(std::string& Stream, const std::vector<std::string>& Headers) {
    constexpr std::uint64_t kCap = std::uint64_t(4) << 30;
    const std::uint64_t length = std::min(ContentLength(Headers), kCap);
    if (length > Stream.capacity())
        Stream.reserve(static_cast<std::size_t>(length));
}

} // namespace

bool TakingTurns::Take(const std::function<bool()>& GiveUp) {
    std::unique_lock lock(FLock);
    while (FTaken) {
        if (GiveUp())
            return false;
        FFree.wait_for(lock, std::chrono::milliseconds(20));
    }
    FTaken = true;
    return true;
}

void TakingTurns::Release() {
    {
        std::lock_guard lock(FLock);
        FTaken = false;
    }
    FFree.notify_one();
}

DWORD RequestFlagsOf(TInternetFlags Flags) {
    DWORD result = 0;
    for (const auto& entry : kFlagTable)
        if (Flags & (1u << entry.Flag))
            result |= entry.Value;
    return result;
}

TAdvHttp::TAdvHttp(bool DeliverOnMainThread)
    : FInternetFlags(
          FlagSet({ifIgnoreCertCnInvalid, ifIgnoreCertDateInvalid, ifIgnoreRedirectToHttp,
                   ifIgnoreRedirectToHttps, ifKeepConnection, ifNoUi, ifReload})),
      FDeliverOnMainThread(DeliverOnMainThread) {
    FRequestFlags = RequestFlagsOf(FInternetFlags);
    if (FDeliverOnMainThread)
        MainThreadMailbox::Prepare();
}

TAdvHttp::~TAdvHttp() {
    FDestroying = true;
    Registry& registry = TheRegistry();
    {
        // No new notification enters; wait for those already inside (a
        // delivery they wait on gives up once FDestroying is set).
        std::unique_lock lock(registry.M);
        for (auto it = registry.Live.begin(); it != registry.Live.end();)
            it = it->second.Owner == this ? registry.Live.erase(it) : std::next(it);
        registry.Idle.wait(lock, [&] { return registry.Active[this] == 0; });
        registry.Active.erase(this);
    }
    Abort();
    {
        std::lock_guard lock(FLock);
        FStopWorker = true;
        FJobs.clear();
    }
    FJobsChanged.notify_all();
    if (FWorker.joinable()) {
        if (FWorker.get_id() == std::this_thread::get_id())
            FWorker.detach(); // destroyed from one of its own handlers
        else
            FWorker.join();
    }
    CloseInternet();
}

std::shared_ptr<TAdvHttp::Request> TAdvHttp::Current() const {
    std::lock_guard lock(FLock);
    return FCurrent;
}

// ---------------------------------------------------------------- requests

void TAdvHttp::OpenInternet() {
    if (FSessionOwner) {
        if (!FSessionOwner->FInternet) {
            FSessionOwner->FAsyncFlag = FAsyncFlag;
            FSessionOwner->OpenInternet();
        }
        FInternet = FSessionOwner->FInternet;
        return;
    }
    const DWORD access = FProxy.empty() ? INTERNET_OPEN_TYPE_PRECONFIG : INTERNET_OPEN_TYPE_PROXY;
    try {
        FInternet = InternetOpenA(FUserAgent.c_str(), access,
                                  FProxy.empty() ? nullptr : FProxy.c_str(), nullptr, FAsyncFlag);
        CheckResult(FInternet != nullptr);
        InternetSetStatusCallback(FInternet, &TAdvHttp::StatusCallback);
        if (!FPendingCookies.empty())
            InternetAddCookies(FInternet, std::exchange(FPendingCookies, {}));
    } catch (...) {
        if (RaiseExceptions)
            throw;
    }
}

void TAdvHttp::AddCookies(const std::vector<std::string>& Lines) {
    if (FSessionOwner) {
        FSessionOwner->AddCookies(Lines);
        return;
    }
    if (FInternet)
        InternetAddCookies(FInternet, Lines);
    else
        FPendingCookies.insert(FPendingCookies.end(), Lines.begin(), Lines.end());
}

void TAdvHttp::CloseInternet() {
    Abort();
    if (FSessionOwner) {
        FInternet = nullptr; // its owner closes it
        return;
    }
    if (FInternet) {
        InternetCloseHandle(FInternet);
        FInternet = nullptr;
    }
}

bool TAdvHttp::Execute(bool Synchronous) {
    // A request still in flight (one that failed and was not aborted) is
    // ended first, so that its handles are not lost.
    Abort();
    FAsyncFlag = Synchronous ? 0 : INTERNET_FLAG_ASYNC;
    bool result = true;
    const DWORD secure = FSSL ? INTERNET_FLAG_SECURE : 0;
    TotalBytesReceived = 0;
    TotalBytesRead = 0;
    BytesReceived = 0;
    LastReadSize = 0;
    FFileError = 0;
    {
        // A worker of an aborted request may still be winding down.
        std::lock_guard lock(FLock);
        ResponseStream.clear();
        // Never the head of an earlier answer for this one.
        ResponseHeaders.clear();
    }
    StatusCode = 0;
    if (!FInternet)
        OpenInternet();

    auto r = std::make_shared<Request>();
    r->Synchronous = Synchronous;
    r->BodyFd = FResponseFd;
    r->BodyLimit = FResponseLimit;
    try {
        r->Connect =
            InternetConnectA(FInternet, FHostName.c_str(), static_cast<INTERNET_PORT>(FPort),
                             nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0);
        CheckResult(r->Connect != nullptr);
        {
            Registry& registry = TheRegistry();
            std::lock_guard lock(registry.M);
            r->Id = registry.NextId++;
            registry.Live[r->Id] = {this, r};
        }
        {
            std::lock_guard lock(FLock);
            FCurrent = r;
        }
        DWORD timeout = static_cast<DWORD>(ConnectTimeout);
        InternetSetOptionA(r->Connect, INTERNET_OPTION_CONNECT_TIMEOUT, &timeout, sizeof timeout);

        const std::string object = FURLPath + FExtraInfo;
        std::vector<const char*> accept;
        if (!FAcceptTypes.empty()) {
            accept.assign(101, nullptr);
            for (std::size_t i = 0; i < FAcceptTypes.size() && i < 100; ++i)
                if (!FAcceptTypes[i].empty())
                    accept[i] = FAcceptTypes[i].c_str();
        }
        const HINTERNET handle =
            HttpOpenRequestA(r->Connect, Method.c_str(), object.c_str(), nullptr, nullptr,
                             accept.empty() ? nullptr : accept.data(), FRequestFlags | secure,
                             static_cast<DWORD_PTR>(r->Id));
        {
            std::lock_guard lock(r->M);
            r->Handle = handle;
        }
        CheckResult(handle != nullptr);
        r->AuthAttempts = 0;
        ApplyCredential(INTERNET_OPTION_USERNAME, FUserName);
        ApplyCredential(INTERNET_OPTION_PASSWORD, FPassword);
        ApplyCredential(INTERNET_OPTION_PROXY_USERNAME, FProxyUserName);
        ApplyCredential(INTERNET_OPTION_PROXY_PASSWORD, FProxyPassword);
        SendRequest(r);
    } catch (...) {
        result = false;
        if (RaiseExceptions)
            throw;
    }
    return result;
}

void TAdvHttp::SendRequest(const std::shared_ptr<Request>& R) {
    std::string headers;
    for (const std::string& line : FRequestHeaders)
        headers += line + "\r\n";
    if (!headers.empty())
        headers += "\r\n";
    HINTERNET handle;
    {
        std::lock_guard lock(R->M);
        handle = R->Handle;
        R->Completed = false;
    }
    const BOOL ok = HttpSendRequestA(handle, headers.empty() ? nullptr : headers.c_str(),
                                     static_cast<DWORD>(headers.size()),
                                     RequestStream.empty() ? nullptr : RequestStream.data(),
                                     static_cast<DWORD>(RequestStream.size()));
    CheckResult(ok != 0);
    if (!R->Synchronous)
        return;
    if (LastError == ERROR_IO_PENDING && !WaitForCompletion(*R))
        return;
    ProcessResponse(R);
}

// Waits for the completion of the pending call; false when the request was
// aborted (or the component is going away) meanwhile. A failed completion
// raises.
bool TAdvHttp::WaitForCompletion(Request& R) {
    std::unique_lock lock(R.M);
    R.CV.wait(lock, [&] { return R.Completed || R.Aborted || FDestroying; });
    if (!R.Completed)
        return false;
    R.Completed = false;
    if (R.Failed) {
        const DWORD error = R.Error;
        lock.unlock();
        SetError(error);
        throw EAdvHttpError(ErrorText(error), error);
    }
    return true;
}

void TAdvHttp::ProcessResponse(const std::shared_ptr<Request>& R) {
    if (CheckStatus(R)) {
        if (R->AuthAttempts < AuthRetries) {
            if (DefaultUi) {
                HINTERNET handle;
                {
                    std::lock_guard lock(R->M);
                    handle = R->Handle;
                }
                LPVOID data = nullptr;
                const DWORD answer = InternetErrorDlg(nullptr, handle, LastError,
                                                      FLAGS_ERROR_UI_FILTER_FOR_ERRORS |
                                                          FLAGS_ERROR_UI_FLAGS_CHANGE_OPTIONS |
                                                          FLAGS_ERROR_UI_FLAGS_GENERATE_DATA,
                                                      &data);
                if (answer == 0 || answer == ERROR_CANCELLED) {
                    SetError(ERROR_INTERNET_OPERATION_CANCELLED);
                    return;
                }
            }
            ++R->AuthAttempts;
            if (R->Aborted) {
                CloseRequest(*R);
                return;
            }
            {
                // This worker ends here; the completion of the re-sent
                // request starts the next one.
                std::lock_guard lock(R->M);
                R->WorkerRunning = false;
            }
            SendRequest(R);
        } else {
            SetError(ERROR_INTERNET_OPERATION_CANCELLED);
        }
        return;
    }

    std::exception_ptr failure;
    try {
        ReadHeaders(R);
        ReadData(R);
    } catch (...) {
        failure = std::current_exception();
    }
    CloseRequest(*R);
    if (LastError != ERROR_INTERNET_OPERATION_CANCELLED && !R->Aborted)
        CallEvent(OnRequestComplete, R);
    if (failure)
        std::rethrow_exception(failure);
}

bool TAdvHttp::CheckStatus(const std::shared_ptr<Request>& R) {
    DWORD code = 0, length = sizeof code, index = 0;
    try {
        HINTERNET handle;
        {
            std::lock_guard lock(R->M);
            handle = R->Handle;
        }
        CheckResult(HttpQueryInfoA(handle, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &code,
                                   &length, &index) != 0);
    } catch (const EAdvHttpError&) {
        return false;
    }
    StatusCode = static_cast<std::int32_t>(code);
    std::shared_ptr<TakingTurns> gate;
    if ((code == 401 || code == 407) && AuthGate) {
        if (!AuthGate->Take([&] { return R->Aborted || FDestroying; }))
            return true;
        gate = AuthGate;
    }
    struct Leave {
        std::shared_ptr<TakingTurns>& Gate;
        ~Leave() {
            if (Gate)
                Gate->Release();
        }
    } leave{gate};
    if (code == 401) {
        CallEvent(OnNeedAuth, R);
        return true;
    }
    if (code == 407) {
        CallEvent(OnNeedProxyAuth, R);
        return true;
    }
    return false;
}

void TAdvHttp::ReadHeaders(const std::shared_ptr<Request>& R) {
    HINTERNET handle;
    {
        std::lock_guard lock(R->M);
        handle = R->Handle;
    }
    if (!handle)
        return;
    try {
        // A head larger than the first guess is asked for again with the
        // room the layer says it needs.
        std::vector<char> buffer(8192);
        DWORD length = static_cast<DWORD>(buffer.size()), index = 0;
        BOOL ok =
            HttpQueryInfoA(handle, HTTP_QUERY_RAW_HEADERS_CRLF, buffer.data(), &length, &index);
        if (!ok && GetLastError() == ERROR_INSUFFICIENT_BUFFER && length > buffer.size()) {
            buffer.resize(length);
            index = 0;
            ok =
                HttpQueryInfoA(handle, HTTP_QUERY_RAW_HEADERS_CRLF, buffer.data(), &length, &index);
        }
        CheckResult(ok != 0);
        std::vector<std::string> headers;
        // Handed over at the end, and only while this is the current request.
        const auto handOver = [&] {
            std::lock_guard lock(FLock);
            if (FCurrent == R && !R->Aborted)
                ResponseHeaders = std::move(headers);
        };
        if (LastError != 0) {
            handOver();
            return;
        }
        const std::string_view text(buffer.data(), strnlen(buffer.data(), length));
        std::size_t start = 0;
        while (start < text.size()) {
            const std::size_t end = text.find_first_of("\r\n", start);
            if (end == std::string_view::npos) {
                headers.emplace_back(text.substr(start));
                break;
            }
            headers.emplace_back(text.substr(start, end - start));
            start = end + (text.compare(end, 2, "\r\n") == 0 ? 2 : 1);
        }
        handOver();
    } catch (...) {
        if (RaiseExceptions)
            throw;
    }
}

void TAdvHttp::ReadData(const std::shared_ptr<Request>& R) {
    try {
        const DWORD block = R->BodyFd >= 0 ? kFileReadBlock : kReadBlock;
        R->Buffer.reset(new char[block]);
        // The body and headers belong to the component: only the current
        // request's worker touches them, under the lock Abort takes.
        bool current;
        {
            std::lock_guard lock(FLock);
            current = FCurrent == R && !R->Aborted;
            if (current) {
                ResponseStream.clear();
                if (R->BodyFd < 0)
                    ReserveForBody(ResponseStream, ResponseHeaders);
            }
        }
        for (; current;) {
            HINTERNET handle;
            {
                std::lock_guard lock(R->M);
                handle = R->Handle;
                R->Completed = false;
                R->ReadCount = 0;
            }
            if (!handle || R->Aborted)
                break;
            const BOOL ok = InternetReadFile(handle, R->Buffer.get(), block, &R->ReadCount);
            CheckResult(ok != 0);
            if (LastError == ERROR_IO_PENDING && !WaitForCompletion(*R))
                break;
            DWORD count;
            {
                std::lock_guard lock(R->M);
                count = R->ReadCount;
            }
            if (count == 0 || R->Aborted)
                break;
            {
                std::lock_guard lock(FLock);
                if (R->Aborted || FCurrent != R)
                    break;
                ChunkPosition = TotalBytesRead.load();
                // Under the lock: once Abort returns, the caller may close
                // the file, and no block of this request goes to it after.
                if (R->BodyFd < 0) {
                    ResponseStream.append(R->Buffer.get(), count);
                } else if (R->BodyLimit > 0 && TotalBytesRead + count > R->BodyLimit) {
                    // A small compressed answer may decode to far more.
                    FFileError = EFBIG;
                    break;
                } else if (!WriteAll(R->BodyFd, std::string_view(R->Buffer.get(), count))) {
                    FFileError = errno != 0 ? errno : EIO;
                    break;
                }
                LastReadSize = count;
                TotalBytesRead += count;
            }
            CallEvent(OnDataAvailable, R);
        }
    } catch (...) {
        R->Buffer.reset();
        CloseRequest(*R);
        if (RaiseExceptions)
            throw;
        return;
    }
    R->Buffer.reset();
    if (R->BodyFd >= 0) {
        // Flushed here, off the main thread, before the completion is
        // reported; under the lock for the same reason as the writes.
        std::lock_guard lock(FLock);
        if (FFileError == 0 && !R->Aborted && FCurrent == R && ::fsync(R->BodyFd) != 0)
            FFileError = errno;
    }
    CloseRequest(*R);
}

void TAdvHttp::CloseRequest(Request& R) {
    HINTERNET handle, connect;
    {
        std::lock_guard lock(R.M);
        handle = std::exchange(R.Handle, nullptr);
        connect = std::exchange(R.Connect, nullptr);
    }
    {
        Registry& registry = TheRegistry();
        std::lock_guard lock(registry.M);
        registry.Live.erase(R.Id);
    }
    if (handle)
        InternetCloseHandle(handle);
    if (connect)
        InternetCloseHandle(connect);
    std::lock_guard lock(FLock);
    if (FCurrent.get() == &R)
        FCurrent.reset();
}

void TAdvHttp::Abort() {
    std::shared_ptr<Request> r;
    {
        std::lock_guard lock(FLock);
        r = std::exchange(FCurrent, nullptr);
    }
    if (!r)
        return;
    bool worker;
    {
        std::lock_guard lock(r->M);
        r->Aborted = true;
        worker = r->WorkerRunning;
    }
    r->CV.notify_all();
    // A worker closes its own request's handles once it sees the abort;
    // otherwise they are closed now.
    if (!worker)
        CloseRequest(*r);
}

void TAdvHttp::StartWorker(const std::shared_ptr<Request>& R) {
    {
        std::lock_guard lock(FLock);
        if (FStopWorker)
            return;
        FJobs.push_back(R);
        if (!FWorker.joinable())
            FWorker = std::thread([this] { WorkerLoop(); });
    }
    FJobsChanged.notify_all(); // after unlocking: the worker wakes to a free lock
}

void TAdvHttp::WorkerLoop() {
    for (;;) {
        std::shared_ptr<Request> r;
        {
            std::unique_lock lock(FLock);
            FJobsChanged.wait(lock, [&] { return FStopWorker || !FJobs.empty(); });
            if (FStopWorker)
                return;
            r = FJobs.front();
            FJobs.erase(FJobs.begin());
        }
        try {
            ProcessResponse(r);
        } catch (...) {
            // No caller to hand a failure to: it was recorded in LastError
            // and reported through OnError.
            CloseRequest(*r);
        }
    }
}

// ------------------------------------------------------------ notifications

void TAdvHttp::StatusCallback(HINTERNET, DWORD_PTR Context, DWORD Status, LPVOID Info,
                              DWORD Length) {
    Registry& registry = TheRegistry();
    TAdvHttp* owner;
    std::shared_ptr<Request> request;
    {
        std::lock_guard lock(registry.M);
        const auto it = registry.Live.find(static_cast<std::uint64_t>(Context));
        if (it == registry.Live.end())
            return;
        owner = it->second.Owner;
        request = std::static_pointer_cast<Request>(it->second.Request.lock());
        if (!request)
            return;
        ++registry.Active[owner];
    }
    try {
        owner->Notify(request, Status, Info, Length);
    } catch (...) {
        // A handler's failure has nowhere to go on the layer's thread.
    }
    std::lock_guard lock(registry.M);
    if (--registry.Active[owner] == 0)
        registry.Idle.notify_all();
}

void TAdvHttp::Notify(const std::shared_ptr<Request>& R, DWORD Status, const void* Info,
                      DWORD Length) {
    if (R->Aborted || FDestroying)
        return;
    if (Status == INTERNET_STATUS_REQUEST_COMPLETE) {
        INTERNET_ASYNC_RESULT result{};
        if (Info && Length >= sizeof result)
            std::memcpy(&result, Info, sizeof result);
        bool start = false, failed = false;
        {
            std::lock_guard lock(R->M);
            if (R->WorkerRunning || R->Synchronous) {
                R->Completed = true;
                R->Failed = result.dwResult == 0;
                R->Error = result.dwError;
            } else if (result.dwResult != 0) {
                R->WorkerRunning = start = true;
            } else {
                failed = true;
            }
        }
        R->CV.notify_all();
        if (start)
            StartWorker(R);
        if (failed)
            SetError(result.dwError);
        return;
    }

    StatusInfo = Info;
    StatusInfoLength = Length;
    switch (Status) {
    case INTERNET_STATUS_RESOLVING_NAME:
        return CallEvent(OnResolvingName, R);
    case INTERNET_STATUS_NAME_RESOLVED:
        ServerAddress = TextAt(Info, Length);
        return CallEvent(OnNameResolved, R);
    case INTERNET_STATUS_CONNECTING_TO_SERVER:
        ServerAddress = TextAt(Info, Length);
        return CallEvent(OnConnectingToServer, R);
    case INTERNET_STATUS_CONNECTED_TO_SERVER:
        ServerAddress = TextAt(Info, Length);
        return CallEvent(OnConnectedToServer, R);
    case INTERNET_STATUS_SENDING_REQUEST:
        return CallEvent(OnSendingRequest, R);
    case INTERNET_STATUS_REQUEST_SENT:
        BytesSent = static_cast<std::int32_t>(NumberAt(Info, Length));
        return CallEvent(OnRequestSent, R);
    case INTERNET_STATUS_RECEIVING_RESPONSE:
        return CallEvent(OnReceivingResponse, R);
    case INTERNET_STATUS_RESPONSE_RECEIVED:
        return NotifyProgress(static_cast<std::int32_t>(NumberAt(Info, Length)), R);
    case INTERNET_STATUS_CLOSING_CONNECTION:
        return CallEvent(OnClosingConnection, R);
    case INTERNET_STATUS_CONNECTION_CLOSED:
        return CallEvent(OnConnectionClosed, R);
    case INTERNET_STATUS_REDIRECT:
        RedirectURL = TextAt(Info, Length);
        return CallEvent(OnRedirect, R);
    case INTERNET_STATUS_INTERMEDIATE_RESPONSE:
        return CallEvent(OnIntermediateResponse, R);
    case INTERNET_STATUS_STATE_CHANGE:
        return CallEvent(OnStateChange, R);
    default:
        return;
    }
}

// Progress is handed to the main thread without waiting for its handler:
// the handler runs there in order with every other event (the mailbox keeps
// the order of posting), with BytesReceived the count of this notification,
// and not at all once the request is aborted or the component gone. Waiting
// for it would cost a round trip between threads for every report, about a
// third of the time of a save of many small files.
void TAdvHttp::NotifyProgress(std::int32_t Bytes, const std::shared_ptr<Request>& R) {
    QCoreApplication* app = QCoreApplication::instance();
    if (!OnResponseReceived || !FDeliverOnMainThread || !app ||
        QThread::currentThread() == app->thread()) {
        BytesReceived = Bytes;
        TotalBytesReceived += Bytes;
        CallEvent(OnResponseReceived, R);
        return;
    }
    std::weak_ptr<void> alive = FAlive;
    MainThreadMailbox::Post([this, alive, R, Bytes] {
        if (alive.expired() || FDestroying || (R && R->Aborted))
            return;
        BytesReceived = Bytes;
        TotalBytesReceived += Bytes;
        try {
            OnResponseReceived(*this);
        } catch (...) {
            // Nobody waits to hear of it; the request goes on.
        }
    });
}

// Runs Handler on the main thread while this thread waits, unless this is
// the main thread or there is none. A delivery gives up, without running the
// handler, once the component is being destroyed or the request aborted.
void TAdvHttp::CallEvent(const TNotifyEvent& Handler, const std::shared_ptr<Request>& R) {
    if (!Handler || FDestroying || (R && R->Aborted))
        return;
    QCoreApplication* app = QCoreApplication::instance();
    if (!FDeliverOnMainThread || !app || QThread::currentThread() == app->thread()) {
        Handler(*this);
        return;
    }
    struct Slot {
        std::mutex M;
        std::condition_variable CV;
        bool Done = false;
        bool Started = false;
        std::exception_ptr Error;
    };
    auto slot = std::make_shared<Slot>();
    std::lock_guard delivery(FDeliveryLock);
    MainThreadMailbox::Post([this, slot, Handler, R] {
        {
            std::lock_guard lock(slot->M);
            if (slot->Done) // given up: the component may be gone
                return;
            slot->Started = true;
        }
        if (!FDestroying && !(R && R->Aborted)) {
            try {
                Handler(*this);
            } catch (...) {
                slot->Error = std::current_exception();
            }
        }
        {
            std::lock_guard lock(slot->M);
            slot->Done = true;
        }
        // Notified after unlocking, so that the waiter does not wake only to
        // wait for the lock.
        slot->CV.notify_all();
    });
    std::unique_lock lock(slot->M);
    while (!slot->Done) {
        slot->CV.wait_for(lock, std::chrono::milliseconds(20));
        if (!slot->Done && !slot->Started && (FDestroying || (R && R->Aborted))) {
            slot->Done = true; // the queued call will see this and not run
            return;
        }
    }
    if (slot->Error)
        std::rethrow_exception(slot->Error);
}

// ------------------------------------------------------------------ errors

void TAdvHttp::CheckResult(bool Ok) {
    LastError = 0;
    if (!Ok)
        SetError(GetLastError());
    if (LastError != 0 && LastError != ERROR_IO_PENDING)
        throw EAdvHttpError(ErrorText(LastError), LastError);
}

void TAdvHttp::SetError(DWORD Code) {
    LastError = Code;
    if (Code == 0 || Code == ERROR_IO_PENDING || !OnError)
        return;
    // Raised on the engine's thread, the event runs later on the main thread,
    // after the caller may have set LastError to its own ERROR_IO_PENDING: the
    // handler must still read the code it was raised with.
    CallEvent(
        [this, Code](TAdvHttp& Sender) {
            LastError = Code;
            OnError(Sender);
        },
        Current());
}

std::string TAdvHttp::ErrorText(DWORD Code) {
    std::string message = InternetErrorText(Code);
    // The layer's table holds only its own codes; a failure is never
    // reported without words.
    if (message.empty())
        message = GeneralErrorText(Code);
    if (Code == ERROR_INTERNET_EXTENDED_ERROR) {
        DWORD error = 0;
        std::vector<char> text(4097);
        DWORD length = 4096;
        if (!InternetGetLastResponseInfoA(&error, text.data(), &length))
            length = 0;
        message += "\r\nExtended error:" + std::to_string(error) + " - " +
                   std::string(text.data(), std::min<DWORD>(length, 4096)) + "\r\n";
    }
    return message;
}

// -------------------------------------------------------------- properties

// The session handle carries the agent and the proxy: an open one is made anew.
void TAdvHttp::ReopenInternet() {
    if (FInternet) {
        CloseInternet();
        OpenInternet();
    }
}

void TAdvHttp::SetUserAgent(const std::string& Value) {
    FUserAgent = Value;
    ReopenInternet();
}

void TAdvHttp::SetProxy(const std::string& Value) {
    FProxy = Value;
    ReopenInternet();
}

void TAdvHttp::SetInternetFlags(TInternetFlags Value) {
    FInternetFlags = Value;
    FRequestFlags = RequestFlagsOf(Value);
}

std::string TAdvHttp::Text() const {
    return std::string(ResponseStream.c_str(),
                       strnlen(ResponseStream.c_str(), ResponseStream.size()));
}

void TAdvHttp::SetText(const std::string& Value) {
    RequestStream = Value;
}

void TAdvHttp::ApplyCredential(DWORD Option, const std::string& Value) {
    const std::shared_ptr<Request> r = Current();
    if (!r)
        return;
    HINTERNET connect;
    {
        std::lock_guard lock(r->M);
        connect = r->Connect;
    }
    if (connect)
        InternetSetOptionA(connect, Option, const_cast<char*>(Value.data()),
                           static_cast<DWORD>(Value.size()));
}

void TAdvHttp::SetUserName(const std::string& Value) {
    FUserName = Value;
    ApplyCredential(INTERNET_OPTION_USERNAME, Value);
}

void TAdvHttp::SetPassword(const std::string& Value) {
    FPassword = Value;
    ApplyCredential(INTERNET_OPTION_PASSWORD, Value);
}

void TAdvHttp::SetProxyUserName(const std::string& Value) {
    FProxyUserName = Value;
    ApplyCredential(INTERNET_OPTION_PROXY_USERNAME, Value);
}

void TAdvHttp::SetProxyPassword(const std::string& Value) {
    FProxyPassword = Value;
    ApplyCredential(INTERNET_OPTION_PROXY_PASSWORD, Value);
}

// ----------------------------------------------------------------- the URL

namespace {

// A part of the address takes the new value only if the whole address can be
// made from it; otherwise the part keeps its old value and the error rises.
template <typename Rebuild>
void AssignOrKeep(std::string& Field, std::string Value, Rebuild&& Make) {
    std::swap(Field, Value);
    try {
        Make();
    } catch (...) {
        std::swap(Field, Value);
        throw;
    }
}

} // namespace

void TAdvHttp::SetURL(const std::string& Value) {
    AssignOrKeep(FURL, Value, [this] { CrackURL(); });
}

void TAdvHttp::SetHostName(const std::string& Value) {
    AssignOrKeep(FHostName, Value, [this] { BuildURL(); });
}

void TAdvHttp::SetURLPath(const std::string& Value) {
    AssignOrKeep(FURLPath, Value, [this] { BuildURL(); });
}

void TAdvHttp::SetExtraInfo(const std::string& Value) {
    AssignOrKeep(FExtraInfo,
                 (!Value.empty() && Value[0] != '#' && Value[0] != '?') ? "?" + Value : Value,
                 [this] { BuildURL(); });
}

void TAdvHttp::SetPort(std::int32_t Value) {
    FPort = Value;
    BuildURL();
}

void TAdvHttp::SetSSL(bool Value) {
    FSSL = Value;
    BuildURL();
}

void TAdvHttp::CrackURL() {
    char host[256] = {}, user[128] = {}, password[128] = {}, path[2048] = {}, extra[2048] = {};
    URL_COMPONENTSA parts{};
    parts.dwStructSize = sizeof parts;
    parts.lpszHostName = host;
    parts.dwHostNameLength = sizeof host;
    parts.lpszUserName = user;
    parts.dwUserNameLength = sizeof user;
    parts.lpszPassword = password;
    parts.dwPasswordLength = sizeof password;
    parts.lpszUrlPath = path;
    parts.dwUrlPathLength = sizeof path;
    parts.lpszExtraInfo = extra;
    parts.dwExtraInfoLength = sizeof extra;
    const bool cracked =
        InternetCrackUrlA(FURL.c_str(), static_cast<DWORD>(FURL.size()), ICU_ESCAPE, &parts) != 0;
    if (!cracked && GetLastError() == ERROR_INSUFFICIENT_BUFFER) {
        // A part does not fit the fixed buffers: say so in the user's terms.
        SetError(ERROR_INSUFFICIENT_BUFFER);
        throw EAdvHttpError("The address is too long", ERROR_INSUFFICIENT_BUFFER);
    }
    CheckResult(cracked);
    FHostName = host;
    FURLPath = path;
    FExtraInfo = extra;
    if (parts.nScheme == INTERNET_SCHEME_HTTPS)
        FSSL = true;
    else if (parts.nScheme == INTERNET_SCHEME_HTTP)
        FSSL = false;
    else
        throw EAdvHttpError("Invalid protocol", 0);
    FPort = parts.nPort;
    if (user[0])
        SetUserName(user);
    if (password[0])
        SetPassword(password);
}

void TAdvHttp::BuildURL() {
    std::string base = (FSSL ? "https://" : "http://") + FHostName;
    if (FPort != 80)
        base += ":" + std::to_string(FPort);
    const std::string relative = FURLPath + FExtraInfo;
    std::vector<char> buffer(2055);
    DWORD length = static_cast<DWORD>(buffer.size());
    CheckResult(InternetCombineUrlA(base.c_str(), relative.c_str(), buffer.data(), &length,
                                    ICU_ENCODE_SPACES_ONLY) != 0);
    FURL.assign(buffer.data(), strnlen(buffer.data(), buffer.size()));
}

} // namespace larkspool
