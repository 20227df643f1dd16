#pragma once

// The program's side of the connection to the browser extension (the
// messages are described in extension/protocol.md): a reader thread takes
// the extension's messages off the input, hands hello, start, releaseApp and
// the end of the input to the caller's handlers (on the reader thread), and
// the replies to the late-bound calls that wait for them.
//
// Objects of the page are ExtensionObjects: every Get, Call and Put sends one
// call and waits for its reply; dropping the last reference to an object
// releases its handle in the page. The window of start answers the reads a
// save makes from one snapshot of each frame (PageSnapshot.h).

#include "browser/Variant.h"
#include "platform/Descriptors.h"
#include "tools/Cookies.h"

#include <nlohmann/json.hpp>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>

namespace larkspool {

class ExtensionConnection : public std::enable_shared_from_this<ExtensionConnection> {
public:
    struct Handlers {
        std::function<void(const nlohmann::json& Description)> Hello;
        std::function<void(const Variant& Window)> Start;
        std::function<void()> ReleaseApp;
        // The input ended (Reason empty) or broke (Reason says how); every
        // call waiting for a reply has failed by then.
        std::function<void(const std::string& Reason)> Ended;
        // A message that is none of the above (a bad first message, say).
        std::function<void(const nlohmann::json& Message)> Unexpected;
    };

    // Reads from In and writes to Out (the host's standard input and output).
    static std::shared_ptr<ExtensionConnection> Open(int In, int Out, Handlers Events);
    ~ExtensionConnection();
    ExtensionConnection(const ExtensionConnection&) = delete;
    ExtensionConnection& operator=(const ExtensionConnection&) = delete;

    // One message to the extension. Fails with a DispatchError once the
    // connection has ended.
    void Send(const nlohmann::json& Message);

    // A late-bound call; returns the reply's value, or raises the page's
    // failure (PageFailure) or a DispatchError when no answer comes.
    Variant Call(const std::string& Op, std::int64_t Handle, const std::string& ClassName,
                 std::string_view Name, const std::vector<Variant>& Args);
    void Release(std::int64_t Handle);

    // The browser's cookies for Hosts (the tab's cookie store), HttpOnly ones
    // too; raises a DispatchError when the extension cannot say.
    std::vector<BrowserCookie> Cookies(const std::vector<std::string>& Hosts);

    // An object of the page as the extension describes it ({"type": "object",
    // "handle", "class"}) or any other value.
    Variant FromValue(const nlohmann::json& Value);

    bool HasEnded() const;
    // Stops reading; calls still waiting fail. Idempotent.
    void Close();

    // How long a call waits for its reply.
    std::chrono::milliseconds CallTimeout{60000};
    // How long the question for cookies waits: the save goes on without.
    std::chrono::milliseconds CookiesTimeout{10000};

private:
    ExtensionConnection(int In, int Out, Handlers Events);
    void ReadLoop();
    void End(const std::string& Reason);
    // Sends Message with a new "id" and returns the reply with that id; a
    // DispatchError when the connection ends or no reply comes in time.
    nlohmann::json Ask(nlohmann::json Message, std::chrono::milliseconds Timeout);

    const int FIn, FOut;
    Handlers FEvents;
    WakePipe FWake; // wakes the reader for Close
    std::thread FReader;
    std::mutex FWriteLock;

    mutable std::mutex FLock;
    std::condition_variable FReplied;
    std::int64_t FNextId = 1;
    std::map<std::int64_t, nlohmann::json> FReplies; // id -> reply, while its caller waits
    std::set<std::int64_t> FWaiting;                 // ids whose callers wait
    bool FEnded = false;
    std::string FEndReason;
};

} // namespace larkspool
