#pragma once

// Shared by the WinInet layer's tests: a recorder of one request's status
// notifications (its address is the request's context) and a fixture that
// opens handles and runs requests against local servers.

#include "platform/wininet/WinInet.h"
#include "support/LocalServer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace larkspool::check {

struct Notification {
    DWORD Status = 0;
    std::string Text;
    DWORD Number = 0;
    INTERNET_ASYNC_RESULT Result{};
};

// A notification may be under way on the layer's thread while its handle
// is closed, so the callback finds recorders through a registry that their
// destruction waits on, as a careful caller of WinInet must.
class Recorder {
public:
    Recorder() {
        std::lock_guard lock(RegistryLock());
        Live().insert(this);
    }
    ~Recorder() {
        std::lock_guard lock(RegistryLock());
        Live().erase(this);
    }

    static void Callback(HINTERNET, DWORD_PTR Context, DWORD Status, LPVOID Info, DWORD Length) {
        std::lock_guard lock(RegistryLock());
        auto* recorder = reinterpret_cast<Recorder*>(Context);
        if (Live().count(recorder))
            recorder->Add(Status, Info, Length);
    }

    // Waits for the next completion not yet taken.
    INTERNET_ASYNC_RESULT WaitComplete() {
        std::unique_lock lock(Lock);
        bool got = Changed.wait_for(lock, std::chrono::seconds(20),
                                    [this] { return CompletionsSeen() > CompletionsTaken; });
        if (!got)
            return {0, 0xdeadbeef};
        std::size_t n = 0;
        for (const Notification& item : Log)
            if (item.Status == INTERNET_STATUS_REQUEST_COMPLETE && n++ == CompletionsTaken) {
                ++CompletionsTaken;
                return item.Result;
            }
        return {0, 0xdeadbeef};
    }

    std::vector<Notification> Logged() const {
        std::lock_guard lock(Lock);
        return Log;
    }
    std::vector<DWORD> Statuses() const {
        std::vector<DWORD> out;
        for (const Notification& item : Logged())
            out.push_back(item.Status);
        return out;
    }
    std::vector<std::string> Texts(DWORD Status) const {
        std::vector<std::string> out;
        for (const Notification& item : Logged())
            if (item.Status == Status)
                out.push_back(item.Text);
        return out;
    }
    std::size_t Count() const { return Logged().size(); }

    // Runs on the layer's thread for each notification, after it is logged.
    std::function<void(DWORD Status)> OnEach;

private:
    static std::mutex& RegistryLock() {
        static std::mutex lock;
        return lock;
    }
    static std::set<Recorder*>& Live() {
        static std::set<Recorder*> live;
        return live;
    }

    std::size_t CompletionsSeen() const {
        std::size_t n = 0;
        for (const Notification& item : Log)
            n += item.Status == INTERNET_STATUS_REQUEST_COMPLETE;
        return n;
    }
    void Add(DWORD Status, LPVOID Info, DWORD Length) {
        Notification item;
        item.Status = Status;
        switch (Status) {
        case INTERNET_STATUS_RESOLVING_NAME:
        case INTERNET_STATUS_NAME_RESOLVED:
        case INTERNET_STATUS_CONNECTING_TO_SERVER:
        case INTERNET_STATUS_CONNECTED_TO_SERVER:
        case INTERNET_STATUS_REDIRECT:
            item.Text.assign(static_cast<const char*>(Info), Length);
            break;
        case INTERNET_STATUS_REQUEST_SENT:
        case INTERNET_STATUS_RESPONSE_RECEIVED:
            item.Number = *static_cast<const DWORD*>(Info);
            break;
        case INTERNET_STATUS_REQUEST_COMPLETE:
            item.Result = *static_cast<const INTERNET_ASYNC_RESULT*>(Info);
            break;
        default:
            break;
        }
        {
            std::lock_guard lock(Lock);
            Log.push_back(item);
        }
        Changed.notify_all();
        if (OnEach)
            OnEach(Status);
    }

    mutable std::mutex Lock;
    std::condition_variable Changed;
    std::vector<Notification> Log;
    std::size_t CompletionsTaken = 0;
};

class WinInetFixture : public ::testing::Test {
protected:
    // Handles close before the servers stop, so no idle connection holds
    // a server up.
    void TearDown() override {
        for (HINTERNET h : Internets)
            InternetCloseHandle(h);
        Servers.clear();
    }

    LocalServer& Serve(const LocalServer::Routes& Extra = {}, const TlsIdentity* Tls = nullptr) {
        Servers.push_back(std::make_unique<LocalServer>(Extra, Tls));
        return *Servers.back();
    }

    HINTERNET Open(DWORD Flags = INTERNET_FLAG_ASYNC, DWORD Access = INTERNET_OPEN_TYPE_PRECONFIG,
                   const char* Proxy = nullptr) {
        HINTERNET h = InternetOpenA("Larkspool test", Access, Proxy, nullptr, Flags);
        EXPECT_NE(h, nullptr);
        InternetSetStatusCallback(h, Recorder::Callback);
        Internets.push_back(h);
        return h;
    }

    // A connection to Host:Port and a request on it for Path that reports to
    // Events.
    HINTERNET Request(HINTERNET Internet, int Port, const char* Path, DWORD Flags = 0,
                      const char* Host = "127.0.0.1", const char* Verb = "GET",
                      const char** Accept = nullptr) {
        Connection = InternetConnectA(Internet, Host, static_cast<INTERNET_PORT>(Port), nullptr,
                                      nullptr, INTERNET_SERVICE_HTTP, 0, 0);
        EXPECT_NE(Connection, nullptr);
        HINTERNET r = HttpOpenRequestA(Connection, Verb, Path, nullptr, nullptr, Accept, Flags,
                                       reinterpret_cast<DWORD_PTR>(&Events));
        EXPECT_NE(r, nullptr);
        return r;
    }

    void SetOption(DWORD Option, const std::string& Value) {
        EXPECT_TRUE(InternetSetOptionA(Connection, Option, const_cast<char*>(Value.data()),
                                       static_cast<DWORD>(Value.size())));
    }

    // Sends asynchronously and waits for the completion.
    INTERNET_ASYNC_RESULT Send(HINTERNET Request, const std::string& Headers = "",
                               const std::string& Body = "") {
        BOOL ok = HttpSendRequestA(Request, Headers.empty() ? nullptr : Headers.c_str(),
                                   static_cast<DWORD>(Headers.size()),
                                   Body.empty() ? nullptr : const_cast<char*>(Body.data()),
                                   static_cast<DWORD>(Body.size()));
        EXPECT_FALSE(ok);
        EXPECT_EQ(GetLastError(), ERROR_IO_PENDING);
        return Events.WaitComplete();
    }

    static DWORD Status(HINTERNET Request) {
        DWORD status = 0, size = sizeof status;
        EXPECT_TRUE(HttpQueryInfoA(Request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER,
                                   &status, &size, nullptr));
        return status;
    }

    static std::string Query(HINTERNET Request, DWORD Level) {
        char text[8192];
        DWORD size = sizeof text;
        if (!HttpQueryInfoA(Request, Level, text, &size, nullptr))
            return "error " + std::to_string(GetLastError());
        return std::string(text, size);
    }

    // Reads the body to its end in 16 KB blocks, as the HTTP component does.
    std::string ReadAll(HINTERNET Request, bool Async = true) {
        std::string body;
        std::vector<char> block(16384);
        for (;;) {
            DWORD n = 0;
            if (!InternetReadFile(Request, block.data(), static_cast<DWORD>(block.size()), &n)) {
                EXPECT_TRUE(Async);
                EXPECT_EQ(GetLastError(), ERROR_IO_PENDING);
                INTERNET_ASYNC_RESULT result = Events.WaitComplete();
                EXPECT_TRUE(result.dwResult) << result.dwError;
                if (!result.dwResult)
                    break;
            }
            if (n == 0)
                break;
            body.append(block.data(), n);
        }
        return body;
    }

    // Opens, sends and reads one request; returns the body.
    std::string Fetch(HINTERNET Internet, int Port, const char* Path, DWORD Flags = 0) {
        HINTERNET r = Request(Internet, Port, Path, Flags);
        INTERNET_ASYNC_RESULT result = Send(r);
        EXPECT_TRUE(result.dwResult) << result.dwError;
        std::string body = ReadAll(r);
        InternetCloseHandle(r);
        InternetCloseHandle(Connection);
        return body;
    }

    Recorder Events;
    HINTERNET Connection = nullptr;
    std::vector<HINTERNET> Internets;
    std::vector<std::unique_ptr<LocalServer>> Servers;
};

} // namespace larkspool::check
