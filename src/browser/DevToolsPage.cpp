#include "browser/DevToolsPage.h"

namespace larkspool {

namespace {

using nlohmann::json;

// A session that holds frames of the tab, and the frame its root hangs from
// (empty for the tab's own session).
struct FrameSession {
    std::string SessionId, ParentFrameId;
};

// The tab's session and those of its frames in other processes, attached as
// they appeared. Each newly found session is told to attach its own.
std::vector<FrameSession> SessionsOf(DevToolsPage& Page) {
    std::vector<FrameSession> sessions{{Page.SessionId, {}}};
    for (std::size_t i = 0; i < sessions.size(); ++i) {
        for (const json& attached :
             Page.Connection->Events(sessions[i].SessionId, "Target.attachedToTarget")) {
            const json info = attached.value("targetInfo", json::object());
            const std::string session = attached.value("sessionId", "");
            if (info.value("type", "") != "iframe" || session.empty())
                continue;
            sessions.push_back({session, info.value("parentFrameId", "")});
            bool fresh;
            {
                std::lock_guard lock(Page.Lock);
                fresh = Page.FrameSessions.insert(session).second;
            }
            if (fresh) {
                Page.Connection->WatchSession(session);
                try {
                    Page.Connection->Command("Target.setAutoAttach",
                                             {{"autoAttach", true},
                                              {"waitForDebuggerOnStart", false},
                                              {"flatten", true}},
                                             session);
                } catch (const DevToolsError&) {
                    // A frame that went away; its session is skipped below.
                }
            }
        }
    }
    return sessions;
}

bool FindInTree(const json& Node, const std::string& FrameId, FrameSpot& Spot) {
    const json frame = Node.value("frame", json::object());
    if (frame.value("id", "") == FrameId) {
        Spot.ParentId = frame.value("parentId", "");
        return true;
    }
    for (const json& child : Node.value("childFrames", json::array()))
        if (FindInTree(child, FrameId, Spot))
            return true;
    return false;
}

} // namespace

std::optional<FrameSpot> FindFrame(DevToolsPage& Page, const std::string& FrameId) {
    for (const FrameSession& session : SessionsOf(Page)) {
        json tree;
        try {
            tree = Page.Connection->Command("Page.getFrameTree", json::object(), session.SessionId)
                       .value("frameTree", json::object());
        } catch (const DevToolsError&) {
            continue; // the frame of this session is gone
        }
        FrameSpot spot;
        if (!FindInTree(tree, FrameId, spot))
            continue;
        spot.SessionId = session.SessionId;
        spot.Root = tree.value("frame", json::object()).value("id", "") == FrameId;
        if (spot.Root)
            spot.ParentId = session.ParentFrameId;
        return spot;
    }
    return std::nullopt;
}

} // namespace larkspool
