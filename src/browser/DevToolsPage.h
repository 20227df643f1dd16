#pragma once

// The tabs of the DevTools bridge and the frames in them: a tab's own
// session, the sessions of its frames that run in other processes (attached
// as they appear), and where in them a frame lives.

#include "browser/DevToolsConnection.h"

#include <nlohmann/json.hpp>

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace larkspool {

// One tab and the DevTools session attached to it. Every handle of the page
// holds it, so the tab closes when the last of them goes. Frames of other
// processes have sessions of their own, attached with the tab.
struct DevToolsPage {
    DevToolsPage(std::shared_ptr<DevToolsConnection> C, std::string Target, std::string Session)
        : Connection(std::move(C)), TargetId(std::move(Target)), SessionId(std::move(Session)) {
        Connection->WatchSession(SessionId);
    }
    ~DevToolsPage() {
        for (const std::string& frame : FrameSessions)
            Connection->ForgetSession(frame);
        Connection->ForgetSession(SessionId);
        Connection->Post("Target.closeTarget", {{"targetId", TargetId}});
    }
    DevToolsPage(const DevToolsPage&) = delete;
    DevToolsPage& operator=(const DevToolsPage&) = delete;

    const std::shared_ptr<DevToolsConnection> Connection;
    const std::string TargetId, SessionId;
    std::string MainFrameId;

    std::mutex Lock;
    std::set<std::string> FrameSessions;        // sessions of frames of other processes
    std::map<std::string, std::int64_t> Worlds; // frame id -> our isolated world there
};

// Where a handle's object lives: the session of the frame's process and the
// JavaScript context in it (0: the frame's own page scripts' world, used for
// the top page and for frames that are the root of their process).
struct DevToolsContext {
    std::shared_ptr<DevToolsPage> Page;
    std::string SessionId, FrameId;
    std::int64_t ContextId = 0;
    // The answerer was seen in this context: calls need not bring it along.
    mutable std::atomic<bool> Installed{false};
};
using ContextPtr = std::shared_ptr<const DevToolsContext>;

// Where a frame lives: its session, its parent frame, and whether it is the
// root of that session (the tab's main frame, or a frame of another process).
struct FrameSpot {
    std::string SessionId, ParentId;
    bool Root = false;
};

// Looks the frame up in the frame trees of the tab's sessions; nothing when
// no session holds it (it is gone).
std::optional<FrameSpot> FindFrame(DevToolsPage& Page, const std::string& FrameId);

} // namespace larkspool
