#pragma once

// A headless Chromium process of our own, driven over its DevTools pipe.
//
// The browser is started with --remote-debugging-pipe: it reads commands on
// its file descriptor 3 and writes answers and events on 4, each message one
// JSON text ended by a NUL byte. No port is opened, so nothing but this
// process can drive the browser. Commands wait for their answer with a time
// limit, so a hung browser is an error rather than a hang; events are counted
// per session, which is all that page loading needs.
//
// The browser runs in a process group of its own with a fresh profile folder;
// Close (and the destructor) ask it to quit, kill the group when it does not,
// and remove the folder. Close is idempotent and may be called from any
// thread; commands sent afterwards fail with a DevToolsError.

#include "browser/Variant.h"
#include "platform/Descriptors.h"

#include <nlohmann/json.hpp>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <sys/types.h>
#include <thread>
#include <utility>
#include <vector>

namespace larkspool {

// The browser could not be started, did not answer, refused a command or
// could not load a page.
class DevToolsError : public DispatchError {
public:
    using DispatchError::DispatchError;
};

class DevToolsConnection {
public:
    using Clock = std::chrono::steady_clock;
    using Milliseconds = std::chrono::milliseconds;

    // Starts the browser at ChromiumPath (with ExtraFlags after the usual
    // ones) and waits for its first answer.
    // Failures raise "Cannot start the browser PATH: reason".
    DevToolsConnection(std::string ChromiumPath, Milliseconds CommandTimeout,
                       std::vector<std::string> ExtraFlags = {},
                       std::function<void(const std::string&)> Prepare = {});
    ~DevToolsConnection();
    DevToolsConnection(const DevToolsConnection&) = delete;
    DevToolsConnection& operator=(const DevToolsConnection&) = delete;

    // Sends a command (to the browser, or to an attached session) and returns
    // its result. A protocol error, a closed browser or no answer within the
    // time limit (the command timeout when none is given) raise a
    // DevToolsError naming the method.
    nlohmann::json Command(const std::string& Method,
                           const nlohmann::json& Params = nlohmann::json::object(),
                           const std::string& SessionId = {},
                           std::optional<Milliseconds> Timeout = std::nullopt);
    // How many commands were sent and waited for so far (round trips).
    std::uint64_t CommandsSent() const;
    // Sends a command whose answer nobody waits for (releasing handles,
    // closing targets). Does nothing once the browser is closed.
    void Post(const std::string& Method, const nlohmann::json& Params,
              const std::string& SessionId = {});

    // Events are counted only for sessions being watched; the empty session
    // id stands for the browser's own events. Browser.downloadProgress is
    // also counted as "Browser.downloadProgress.STATE".
    void WatchSession(const std::string& SessionId);
    void ForgetSession(const std::string& SessionId);
    std::uint64_t EventCount(const std::string& SessionId, const std::string& Method) const;
    // Waits until more than After events of Method arrived on the session.
    // False when Deadline passes; a DevToolsError when the browser closes or
    // the session ends (its page crashed or was closed).
    bool WaitForEvent(const std::string& SessionId, const std::string& Method, std::uint64_t After,
                      Clock::time_point Deadline);

    // The parameters of the events a page needs later, in order of arrival,
    // on a watched session: Target.attachedToTarget (frames of other
    // processes) and Network.responseReceived of documents (answer status).
    std::vector<nlohmann::json> Events(const std::string& SessionId,
                                       const std::string& Method) const;

    // Called on the connection's reading thread with every event of every
    // session (watched or not), outside the connection's lock, for code that
    // must answer events as they come (paused requests). It may Post, but not
    // wait for an answer: Command would wait for the very thread that calls
    // it. Empty removes the handler; a handler being called while it is
    // replaced finishes that call.
    using EventHandler = std::function<void(const std::string& SessionId, const std::string& Method,
                                            const nlohmann::json& Params)>;
    void SetEventHandler(EventHandler Handler);

    // The downloads seen while the browser's own events are watched: address
    // and last state (inProgress, completed, canceled).
    std::vector<std::pair<std::string, std::string>> Downloads() const;

    // Asks the browser to quit, kills its process group when it does not
    // within a few seconds, and removes the temporary folders.
    void Close();
    bool IsOpen() const;

    pid_t ProcessId() const { return FPid; }
    const std::string& ChromiumPath() const { return FChromiumPath; }
    Milliseconds CommandTimeout() const { return FCommandTimeout; }

private:
    struct SessionEvents {
        std::map<std::string, std::uint64_t> Counts;
        std::map<std::string, std::vector<nlohmann::json>> Kept; // see Events
        std::string Ended; // why the session ended; empty while it lives
    };

    void Launch();
    void ReadLoop();
    void Dispatch(const std::string& Message);
    void MarkClosed(const std::string& Reason);
    // Writes one message; false when the pipe is gone.
    bool Send(const nlohmann::json& Message);
    std::string ClosedError() const; // under FLock
    std::string LogTail() const;
    // Reaps the browser when it exits before Deadline.
    bool WaitForExit(Clock::time_point Deadline);
    std::string ExitDescription() const;

    const std::string FChromiumPath;
    const Milliseconds FCommandTimeout;
    const std::vector<std::string> FExtraFlags;
    const std::function<void(const std::string&)> FPrepare;
    std::string FTempDir;
    pid_t FPid = 0;
    bool FExited = false; // reaped; FExitStatus holds its wait status
    int FExitStatus = 0;
    bool FClosing = false;  // Close has begun, so the pipe's end is expected
    UniqueFd FWrite, FRead; // the browser's descriptors 3 and 4
    WakePipe FWake;         // ends the reader's wait
    std::thread FReader;

    std::mutex FCloseLock; // serialises Close
    UniqueFd FOwnerLock;   // locked while the temporary folder is ours
    std::mutex FWriteLock;
    mutable std::mutex FLock;
    std::condition_variable FChanged;
    std::int64_t FNextId = 0;
    std::uint64_t FCommandsSent = 0;
    std::map<std::int64_t, std::optional<nlohmann::json>> FPending;
    std::map<std::string, SessionEvents> FSessions;
    std::map<std::string, std::pair<std::string, std::string>> FDownloads; // by guid
    std::shared_ptr<const EventHandler> FEventHandler;
    bool FClosed = false;
    std::string FClosedReason;
};

} // namespace larkspool
