#pragma once

// Inside of the WinInet layer: the handle objects and the engine that runs
// every transfer on one thread of its own over libcurl's multi interface.
//
// Threads: the API functions run on the caller's threads. They change a
// request's shared state under its lock and hand work to the engine through
// a command queue; only the engine thread touches libcurl handles. Status
// notifications are collected while libcurl runs and delivered by the engine
// thread after it returns, never from inside a libcurl callback, so a status
// callback may call any function of the layer, InternetCloseHandle included.
//
// Where the layer differs from WinInet:
// - Name resolution is reported (10, 11, then 20) once the address is known;
//   addresses are text. Body progress (41) is reported per MiB or per 100 ms,
//   not per network read. No HANDLE_CREATED, HANDLE_CLOSING or STATE_CHANGE.
//   Connection closes (50, 51) are reported only while a transfer of that
//   request is using the connection.
// - InternetCloseHandle never waits: a callback already running on the
//   layer's thread may finish after it returns; nothing starts afterwards.
// - In synchronous mode notifications come from the layer's thread too, and a
//   blocking call made from inside a status callback fails with
//   ERROR_INTERNET_INCORRECT_HANDLE_STATE instead of waiting for itself.
// - HttpSendRequestA on a request still in flight abandons the earlier send;
//   a send always starts at the request's own address, not a redirect's.
// - Credentials go out only in answer to a challenge, so every authenticated
//   request costs one extra round trip; they never follow a redirect to
//   another host or port.
// - Connections, TLS sessions and cookies are pooled per internet handle
//   (WinInet: per process). Nothing is cached. HTTP/1.1 only. The proxy
//   bypass list is ignored.
// - Every request offers gzip, deflate and br (those of them libcurl can
//   decode) and the reader gets the body decoded, whatever Accept-Encoding
//   the caller sends; the head stays as the server sent it (Content-Length
//   and Content-Encoding of the encoded body). Body progress (41) counts the
//   body's bytes as received, before decoding. A body that does not decode
//   fails the read with ERROR_INTERNET_DECODING_FAILED. The buffer limit
//   (PauseAbove) counts decoded bytes, and one network read may decode to
//   more than that: libcurl then holds the rest until the reader drains.
// - HttpQueryInfoA answers from the final response head only (no request
//   headers, no SYSTEMTIME). An untrusted certificate chain gives
//   ERROR_INTERNET_SEC_INVALID_CERT. Options for a connection set on a
//   request apply to its connection; there are no send or receive timeouts.

#include "platform/wininet/ByteQueue.h"
#include "platform/wininet/ProxyAndTls.h"
#include "platform/wininet/WinInet.h"

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include <curl/curl.h>

namespace larkspool::wininet {

constexpr BOOL FALSE = 0;
constexpr BOOL TRUE = 1;

// A request's body is buffered up to about PauseAbove bytes: the transfer is
// paused there and resumed once the reader has drained it below ResumeBelow.
constexpr std::size_t PauseAbove = 1 << 20;
constexpr std::size_t ResumeBelow = 256 << 10;

enum class HandleKind { Internet, Connection, Request };

struct HandleObject {
    explicit HandleObject(HandleKind K) : Kind(K) {}
    virtual ~HandleObject() = default;

    const HandleKind Kind;
    HINTERNET Handle = nullptr;
    DWORD_PTR Context = 0;
    std::shared_ptr<HandleObject> Parent;
    std::atomic<INTERNET_STATUS_CALLBACK> Callback{nullptr};
    std::atomic<bool> Closed{false};
};

struct InternetObject : HandleObject {
    InternetObject() : HandleObject(HandleKind::Internet) {}

    std::string Agent;
    DWORD AccessType = INTERNET_OPEN_TYPE_PRECONFIG;
    ProxyList Proxies; // for INTERNET_OPEN_TYPE_PROXY
    bool Async = false;
    std::string CaFile; // empty: the system's trust store
    std::atomic<DWORD> ConnectTimeout{60000};

    // Engine thread only: connections, DNS, TLS sessions and cookies shared
    // by the transfers of this handle.
    CURLSH* Share = nullptr;
    bool Released = false;
};

// Engine thread only: makes the handle's share when it has none yet.
DWORD EnsureShare(InternetObject& Internet);

struct ConnectionSettings {
    std::string UserName, Password, ProxyUserName, ProxyPassword;
    DWORD ConnectTimeout = 0;
};

struct ConnectionObject : HandleObject {
    ConnectionObject() : HandleObject(HandleKind::Connection) {}

    std::shared_ptr<InternetObject> Internet;
    std::string Host;
    INTERNET_PORT Port = 0; // 0: the scheme's default

    ConnectionSettings Settings() const {
        std::lock_guard lock(Lock);
        return Current;
    }
    mutable std::mutex Lock;
    ConnectionSettings Current;
};

enum class RequestState { Idle, Sending, Received, Failed };

struct RequestObject : HandleObject {
    RequestObject() : HandleObject(HandleKind::Request) {}

    std::shared_ptr<ConnectionObject> Connection;
    std::string Verb, Object;
    std::string FixedHeaders; // Accept and Referer lines from HttpOpenRequestA
    DWORD Flags = 0;

    std::mutex Lock;
    std::condition_variable Changed; // wakes synchronous callers
    // Everything below is guarded by Lock. Generation counts sends, so the
    // engine's work for an earlier send is recognised and dropped.
    std::uint64_t Generation = 0;
    RequestState State = RequestState::Idle;
    std::string Headers, Body; // of the latest send
    std::string Head;          // final response head, CR LF lines, blank line included
    DWORD Status = 0;
    ByteQueue Buffered;
    bool Ended = false;  // the whole body is in Buffered
    DWORD ReadError = 0; // the body broke off after Buffered
    bool Paused = false, ResumeAsked = false;
    // A read waiting for data: filled in by the engine thread.
    bool ReadWaiting = false;
    char* ReadInto = nullptr;
    DWORD ReadSize = 0;
    DWORD* ReadCount = nullptr;
    // Outcome of a synchronous call's operation, set when it completes.
    bool Completed = false;
    BOOL Result = FALSE;
    DWORD Error = 0;
    // The engine holds a transfer of this request: closing it has work for
    // the engine to do at once; otherwise the discard waits for its next turn.
    bool Transferring = false;
};

// What the engine reports to a request's status callback.
struct Notice {
    enum class Payload { None, Text, Number, Result };
    Notice(std::shared_ptr<RequestObject> R, std::uint64_t G, DWORD S, Payload K = Payload::None)
        : Request(std::move(R)), Generation(G), Status(S), Kind(K) {}
    std::shared_ptr<RequestObject> Request;
    std::uint64_t Generation = 0;
    DWORD Status = 0;
    Payload Kind = Payload::None;
    std::string Text;
    DWORD Number = 0;
    INTERNET_ASYNC_RESULT Result{};
};

struct Transfer;

class Engine {
public:
    static Engine& Get();
    ~Engine();

    HINTERNET Register(std::shared_ptr<HandleObject> Object);
    std::shared_ptr<HandleObject> Find(HINTERNET Handle);
    // Removes the handle and its descendants from the table: requests first,
    // then connections, then the internet handle.
    std::vector<std::shared_ptr<HandleObject>> Unregister(HINTERNET Handle);

    void Send(const std::shared_ptr<RequestObject>& Request, std::uint64_t Generation);
    void Resume(const std::shared_ptr<RequestObject>& Request);
    // Urgent: the request still has a transfer (RequestObject::Transferring).
    void Discard(const std::shared_ptr<RequestObject>& Request, bool Urgent);
    void Release(const std::shared_ptr<InternetObject>& Internet);
    // Cookies (cookies.txt lines) into the handle's jar, before any request
    // sent after this call.
    void AddCookies(const std::shared_ptr<InternetObject>& Internet,
                    std::vector<std::string> Lines);

    bool OnEngineThread() const { return std::this_thread::get_id() == ThreadId; }

    // Called by transfers on the engine thread.
    void Queue(Notice&& Item);
    void SocketOpened(int Socket);
    void SocketInUse(int LocalPort, Transfer* Owner);
    void SocketClosed(int Socket);
    CURLM* Multi() const { return MultiHandle; }
    // Hands the queued notices to the status callbacks, in order (on the
    // engine's own thread only).
    void Deliver();

private:
    Engine();
    enum class Op { Send, Resume, Discard, Release, AddCookies };
    struct Command {
        Op What;
        std::shared_ptr<RequestObject> Request;
        std::shared_ptr<InternetObject> Internet;
        std::uint64_t Generation = 0;
        std::vector<std::string> Lines = {};
    };
    // Queues a command; Wake: rouse the engine if it is waiting in poll.
    void Post(Command&& Item, bool Wake = true);
    void Run();
    void Execute(Command& Item);
    void Start(const std::shared_ptr<RequestObject>& Request, std::uint64_t Generation);
    void FinishTransfers();
    void ReportProgress();
    void ReleaseShare(InternetObject& Internet);
    void LoadCookies(InternetObject& Internet, const std::vector<std::string>& Lines);

    CURLM* MultiHandle = nullptr;

    std::mutex TableLock;
    std::unordered_map<std::uintptr_t, std::shared_ptr<HandleObject>> Table;
    std::uintptr_t NextId = 0x100;

    std::mutex QueueLock;
    std::deque<Command> Commands;
    bool Stopping = false;
    // The engine is in (or about to enter) curl_multi_poll, and whether a
    // wakeup is on its way already: a command posted while the engine is
    // busy is seen before it polls again, so it costs no wakeup.
    bool Polling = false, WakeSent = false;

    // Engine thread only.
    std::unordered_map<RequestObject*, std::unique_ptr<Transfer>> Transfers;
    std::vector<Notice> Notices;
    struct SocketUser {
        std::weak_ptr<RequestObject> Request;
        std::uint64_t Generation = 0;
    };
    std::unordered_map<int, SocketUser> Sockets;

    std::thread Thread;
    std::thread::id ThreadId;
};

} // namespace larkspool::wininet
