// The engine: the handle table, the command queue from the API functions,
// and the thread that runs every transfer over libcurl's multi interface and
// delivers the notices they queue.

#include "platform/wininet/WinInetEngine.h"

#include "platform/wininet/RequestUrl.h"
#include "platform/wininet/Transfer.h"

#include <algorithm>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace larkspool::wininet {

Engine& Engine::Get() {
    static Engine engine;
    return engine;
}

Engine::Engine() {
    curl_global_init(CURL_GLOBAL_DEFAULT);
    MultiHandle = curl_multi_init();
    curl_multi_setopt(MultiHandle, CURLMOPT_MAXCONNECTS, 32L);
    Thread = std::thread([this] { Run(); });
    ThreadId = Thread.get_id();
}

Engine::~Engine() {
    {
        std::lock_guard lock(QueueLock);
        Stopping = true;
    }
    curl_multi_wakeup(MultiHandle);
    Thread.join();
    curl_multi_cleanup(MultiHandle);
}

HINTERNET Engine::Register(std::shared_ptr<HandleObject> Object) {
    std::lock_guard lock(TableLock);
    std::uintptr_t id = NextId++;
    Object->Handle = reinterpret_cast<HINTERNET>(id);
    Table.emplace(id, std::move(Object));
    return reinterpret_cast<HINTERNET>(id);
}

std::shared_ptr<HandleObject> Engine::Find(HINTERNET Handle) {
    std::lock_guard lock(TableLock);
    auto it = Table.find(reinterpret_cast<std::uintptr_t>(Handle));
    return it == Table.end() ? nullptr : it->second;
}

std::vector<std::shared_ptr<HandleObject>> Engine::Unregister(HINTERNET Handle) {
    std::vector<std::shared_ptr<HandleObject>> removed;
    std::lock_guard lock(TableLock);
    auto it = Table.find(reinterpret_cast<std::uintptr_t>(Handle));
    if (it == Table.end())
        return removed;
    HandleObject* root = it->second.get();
    for (auto kind : {HandleKind::Request, HandleKind::Connection, HandleKind::Internet}) {
        for (auto entry = Table.begin(); entry != Table.end();) {
            HandleObject* h = entry->second.get();
            bool under = h == root ||
                         (h->Parent && (h->Parent.get() == root ||
                                        (h->Parent->Parent && h->Parent->Parent.get() == root)));
            if (under && h->Kind == kind) {
                removed.push_back(std::move(entry->second));
                entry = Table.erase(entry);
            } else {
                ++entry;
            }
        }
    }
    return removed;
}

void Engine::Post(Command&& Item, bool Wake) {
    bool wake = false;
    {
        std::lock_guard lock(QueueLock);
        Commands.push_back(std::move(Item));
        if (Wake && Polling && !WakeSent)
            wake = WakeSent = true;
    }
    if (wake)
        curl_multi_wakeup(MultiHandle);
}

void Engine::Send(const std::shared_ptr<RequestObject>& Request, std::uint64_t Generation) {
    Post({Op::Send, Request, nullptr, Generation});
}

void Engine::Resume(const std::shared_ptr<RequestObject>& Request) {
    Post({Op::Resume, Request, nullptr, 0});
}

void Engine::Discard(const std::shared_ptr<RequestObject>& Request, bool Urgent) {
    Post({Op::Discard, Request, nullptr, 0}, Urgent);
}

void Engine::Release(const std::shared_ptr<InternetObject>& Internet) {
    Post({Op::Release, nullptr, Internet, 0});
}

void Engine::AddCookies(const std::shared_ptr<InternetObject>& Internet,
                        std::vector<std::string> Lines) {
    Post({Op::AddCookies, nullptr, Internet, 0, std::move(Lines)});
}

void Engine::Queue(Notice&& Item) {
    Notices.push_back(std::move(Item));
}

void Engine::SocketOpened(int Socket) {
    Sockets[Socket] = SocketUser{};
}

// libcurl does not say which socket a transfer uses until it is done; the
// local port it does say picks it out. Connection attempts that lose (one per
// address family) are never used, so their closing is not reported.
void Engine::SocketInUse(int LocalPort, Transfer* Owner) {
    for (auto& [socket, user] : Sockets) {
        sockaddr_storage address{};
        socklen_t size = sizeof address;
        if (getsockname(socket, reinterpret_cast<sockaddr*>(&address), &size) != 0)
            continue;
        int port = address.ss_family == AF_INET6
                       ? ntohs(reinterpret_cast<sockaddr_in6*>(&address)->sin6_port)
                       : ntohs(reinterpret_cast<sockaddr_in*>(&address)->sin_port);
        if (port == LocalPort) {
            user = SocketUser{Owner->Request, Owner->Generation};
            return;
        }
    }
}

// A connection closes (the server's choice, or the pool's); the request
// whose transfer is using it hears of it.
void Engine::SocketClosed(int Socket) {
    auto it = Sockets.find(Socket);
    if (it == Sockets.end())
        return;
    std::shared_ptr<RequestObject> request = it->second.Request.lock();
    std::uint64_t generation = it->second.Generation;
    Sockets.erase(it);
    if (!request)
        return;
    auto t = Transfers.find(request.get());
    if (t != Transfers.end() && t->second->Generation == generation) {
        t->second->Notify(INTERNET_STATUS_CLOSING_CONNECTION);
        t->second->Notify(INTERNET_STATUS_CONNECTION_CLOSED);
    }
}

void Engine::Run() {
    for (;;) {
        std::deque<Command> batch;
        {
            std::lock_guard lock(QueueLock);
            batch.swap(Commands);
            if (Stopping && batch.empty())
                break;
        }
        for (Command& item : batch)
            Execute(item);
        int running = 0;
        curl_multi_perform(MultiHandle, &running);
        FinishTransfers();
        ReportProgress();
        Deliver();
        bool progressDue = std::any_of(Transfers.begin(), Transfers.end(),
                                       [](const auto& t) { return t.second->Unreported > 0; });
        {
            std::lock_guard lock(QueueLock);
            if (!Commands.empty() || Stopping)
                continue;
            Polling = true;
        }
        curl_multi_poll(MultiHandle, nullptr, 0, progressDue ? 100 : 1000, nullptr);
        std::lock_guard lock(QueueLock);
        Polling = WakeSent = false;
    }
    // Shutting down with handles still open: end their transfers, then
    // close the pooled connections.
    while (!Transfers.empty()) {
        auto owned = std::move(Transfers.begin()->second);
        Transfers.erase(Transfers.begin());
    }
    std::vector<std::shared_ptr<HandleObject>> open;
    {
        std::lock_guard lock(TableLock);
        for (auto& entry : Table)
            open.push_back(entry.second);
    }
    for (auto& h : open)
        if (h->Kind == HandleKind::Internet)
            ReleaseShare(static_cast<InternetObject&>(*h));
    Notices.clear();
}

void Engine::Execute(Command& Item) {
    auto drop = [this](RequestObject* request) {
        auto it = Transfers.find(request);
        if (it == Transfers.end())
            return;
        // Out of the map first: ending the transfer may close its socket,
        // which looks the transfer up.
        auto owned = std::move(it->second);
        Transfers.erase(it);
    };
    switch (Item.What) {
    case Op::Send:
        drop(Item.Request.get());
        Start(Item.Request, Item.Generation);
        break;
    case Op::Resume: {
        auto it = Transfers.find(Item.Request.get());
        RequestObject& r = *Item.Request;
        bool paused;
        {
            std::lock_guard lock(r.Lock);
            paused = r.Paused;
            r.Paused = r.ResumeAsked = false;
        }
        // Unpausing may hand held data to the write callback right here.
        if (paused && it != Transfers.end() && it->second->Easy != nullptr)
            curl_easy_pause(it->second->Easy, CURLPAUSE_CONT);
        break;
    }
    case Op::Discard:
        drop(Item.Request.get());
        break;
    case Op::Release:
        ReleaseShare(*Item.Internet);
        break;
    case Op::AddCookies:
        LoadCookies(*Item.Internet, Item.Lines);
        break;
    }
}

void Engine::Start(const std::shared_ptr<RequestObject>& Request, std::uint64_t Generation) {
    RequestObject& r = *Request;
    auto t = std::make_unique<Transfer>();
    {
        std::lock_guard lock(r.Lock);
        if (r.Closed || r.Generation != Generation)
            return;
        r.Transferring = true; // until t ends, whichever way
        t->Headers = r.Headers;
        t->Body = r.Body;
    }
    ConnectionObject& conn = *r.Connection;
    t->Owner = this;
    t->Request = Request;
    t->Internet = conn.Internet;
    t->Generation = Generation;
    t->Verb = r.Verb;
    t->HasBody = !t->Body.empty();
    t->Secure = (r.Flags & INTERNET_FLAG_SECURE) != 0;
    t->Host = conn.Host;
    t->Port = PortOrDefault(conn.Port, t->Secure);
    t->Url = FirstHopUrl(t->Secure, conn.Host, t->Port, r.Object);
    if (t->Internet->Released) {
        t->Fail(ERROR_INTERNET_OPERATION_CANCELLED);
        return;
    }
    DWORD error = t->StartHop();
    if (error != ERROR_SUCCESS) {
        t->Fail(error);
        return;
    }
    Transfers.emplace(&r, std::move(t));
}

void Engine::FinishTransfers() {
    int left = 0;
    while (CURLMsg* message = curl_multi_info_read(MultiHandle, &left)) {
        if (message->msg != CURLMSG_DONE)
            continue;
        Transfer* t = nullptr;
        curl_easy_getinfo(message->easy_handle, CURLINFO_PRIVATE, &t);
        CURLcode result = message->data.result;
        if (t == nullptr || t->OnDone(result))
            continue;
        auto it = Transfers.find(t->Request.get());
        if (it != Transfers.end() && it->second.get() == t) {
            auto owned = std::move(it->second);
            Transfers.erase(it);
        }
    }
}

void Engine::ReportProgress() {
    Clock::time_point now = Clock::now();
    for (auto& entry : Transfers) {
        Transfer& t = *entry.second;
        if (t.ReportDue(now))
            t.ReportBytes();
    }
}

void Engine::Deliver() {
    std::vector<Notice> batch;
    batch.swap(Notices);
    for (Notice& n : batch) {
        RequestObject& r = *n.Request;
        {
            std::lock_guard lock(r.Lock);
            if (r.Closed || r.Generation != n.Generation)
                continue;
            // A synchronous call waits for this instead; the notices before
            // it have been delivered by now.
            if (n.Status == INTERNET_STATUS_REQUEST_COMPLETE && !r.Connection->Internet->Async) {
                r.Completed = true;
                r.Result = static_cast<BOOL>(n.Result.dwResult);
                r.Error = n.Result.dwError;
                r.Changed.notify_all();
                continue;
            }
        }
        INTERNET_STATUS_CALLBACK callback = r.Callback.load();
        if (callback == nullptr || callback == INTERNET_INVALID_STATUS_CALLBACK || r.Context == 0)
            continue;
        switch (n.Kind) {
        case Notice::Payload::None:
            callback(r.Handle, r.Context, n.Status, nullptr, 0);
            break;
        case Notice::Payload::Text:
            callback(r.Handle, r.Context, n.Status, n.Text.data(),
                     static_cast<DWORD>(n.Text.size()));
            break;
        case Notice::Payload::Number:
            callback(r.Handle, r.Context, n.Status, &n.Number, sizeof n.Number);
            break;
        case Notice::Payload::Result:
            callback(r.Handle, r.Context, n.Status, &n.Result, sizeof n.Result);
            break;
        }
    }
    batch.clear();
    if (Notices.empty())
        Notices.swap(batch); // keep the capacity
}

// Through a handle of its own on the share: the jar is the share's, so the
// cookies stay when the handle goes.
void Engine::LoadCookies(InternetObject& Internet, const std::vector<std::string>& Lines) {
    if (Internet.Released || EnsureShare(Internet) != ERROR_SUCCESS)
        return;
    CURL* easy = curl_easy_init();
    if (easy == nullptr)
        return;
    curl_easy_setopt(easy, CURLOPT_SHARE, Internet.Share);
    for (const std::string& line : Lines)
        curl_easy_setopt(easy, CURLOPT_COOKIELIST, line.c_str());
    curl_easy_cleanup(easy);
}

void Engine::ReleaseShare(InternetObject& Internet) {
    Internet.Released = true;
    if (Internet.Share != nullptr && curl_share_cleanup(Internet.Share) == CURLSHE_OK)
        Internet.Share = nullptr;
}

} // namespace larkspool::wininet
