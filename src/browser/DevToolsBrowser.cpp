#include "browser/DevToolsBrowser.h"

#include "browser/CookieJson.h"
#include "platform/AsciiText.h"

#include <sys/resource.h>

#include "browser/AnswererScript.h"
#include "browser/DevToolsConnection.h"
#include "browser/DevToolsPage.h"
#include "browser/LivePageObject.h"
#include "browser/PageFailure.h"
#include "browser/PageSnapshot.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <mutex>
#include <optional>
#include <set>

namespace larkspool {

namespace {

using nlohmann::json;
using Clock = DevToolsConnection::Clock;
using Milliseconds = DevToolsConnection::Milliseconds;

constexpr const char* DefaultChromium = "/usr/lib/chromium/chromium";

// Runs in the page with `this` the object a handle stands for, for every
// Get ("get"), Call ("call") and Put ("put"), through the answerer the
// extension ships (AnswererScript). Its failures are thrown as
// "larkspool:KIND:TEXT" strings, which arrive as plain values; "install"
// means the answerer is not in this context yet.
constexpr const char* CallInstalled = R"js(function (op, name, ...args) {
    const answerer = globalThis[Symbol.for('larkspool.answerer')];
    if (answerer === undefined)
        throw 'larkspool:install:';
    try {
        return answerer.invoke(this, op, name, args);
    } catch (e) {
        const failure = answerer.failure(e);
        throw 'larkspool:' + failure.kind + ':' + failure.text;
    }
})js";

// The answerer is run once in each JavaScript context (a page, a frame); a
// call then sends only the short caller instead of the whole script.
const std::string& InstallingFunction() {
    static const std::string text = "function () {\n" + std::string(AnswererScript) + "\nreturn (" +
                                    CallInstalled + ").apply(this, arguments);\n}";
    return text;
}

std::string DurationText(Milliseconds Duration) {
    if (Duration.count() % 1000 == 0)
        return std::to_string(Duration.count() / 1000) + " s";
    return std::to_string(Duration.count()) + " ms";
}

Milliseconds Remaining(Clock::time_point Deadline) {
    // Rounded up, so that a command given this much time ends past Deadline.
    const auto left = std::chrono::ceil<Milliseconds>(Deadline - Clock::now());
    return left < Milliseconds(1) ? Milliseconds(1) : left;
}

// The message of an exception thrown in the page: our own failures carry
// "larkspool:KIND:TEXT", anything else its first line ("TypeError: ...").
struct PageException {
    std::string Kind, Text;
};

PageException ReadException(const json& Details) {
    const json exception = Details.value("exception", json::object());
    if (exception.value("type", "") == "string") {
        const std::string value = exception.value("value", "");
        if (value.starts_with("larkspool:")) {
            const std::size_t colon = value.find(':', 10);
            if (colon != std::string::npos)
                return {value.substr(10, colon - 10), value.substr(colon + 1)};
        }
        return {"", value};
    }
    std::string text = exception.value("description", "");
    if (text.empty())
        text = Details.value("text", "an exception in the page");
    return {"", text.substr(0, text.find('\n'))};
}

Variant FromRemoteObject(const json& Object, const ContextPtr& Context);

// A JavaScript object of a page, held by its Runtime object id.
class DevToolsObject : public LivePageObject {
public:
    DevToolsObject(ContextPtr Context, std::string ObjectId, std::string ClassName)
        : LivePageObject(std::move(ClassName)), FContext(std::move(Context)),
          FObjectId(std::move(ObjectId)) {}
    ~DevToolsObject() override {
        FContext->Page->Connection->Post("Runtime.releaseObject", {{"objectId", FObjectId}},
                                         FContext->SessionId);
    }

    const ContextPtr& Context() const { return FContext; }
    const std::string& ObjectId() const { return FObjectId; }

private:
    std::string MemberOf(std::string_view Name) const {
        return larkspool::MemberOf(FClassName, Name);
    }

    json Argument(const Variant& Value, std::string_view Name) const {
        switch (Value.GetType()) {
        case Variant::Type::Empty:
            return json::object(); // undefined
        case Variant::Type::Null:
            return {{"value", nullptr}};
        case Variant::Type::Boolean:
            return {{"value", Value.ToBoolean()}};
        case Variant::Type::Integer:
            return {{"value", Value.ToInteger()}};
        case Variant::Type::Text:
            return {{"value", Value.ToText()}};
        case Variant::Type::Object:
            break;
        }
        // An object id means something only in the context that made it.
        const DispatchPtr live = LiveObjectOf(Value.ToObject());
        const auto* other = dynamic_cast<const DevToolsObject*>(live.get());
        if (other == nullptr || other->Context()->Page != FContext->Page ||
            other->Context()->SessionId != FContext->SessionId ||
            other->Context()->ContextId != FContext->ContextId)
            throw DispatchError(MemberOf(Name) +
                                ": an object of another page cannot be passed to it");
        return {{"objectId", other->ObjectId()}};
    }

    Variant Invoke(const char* Op, std::string_view Name,
                   const std::vector<Variant>& Args) override {
        json arguments = json::array({{{"value", Op}}, {{"value", std::string(Name)}}});
        for (const Variant& arg : Args)
            arguments.push_back(Argument(arg, Name));
        json result;
        const auto call = [&](const std::string& Function) {
            try {
                result = FContext->Page->Connection->Command("Runtime.callFunctionOn",
                                                             {{"objectId", FObjectId},
                                                              {"functionDeclaration", Function},
                                                              {"arguments", arguments},
                                                              {"silent", true}},
                                                             FContext->SessionId);
            } catch (const DevToolsError& e) {
                throw DispatchError(MemberOf(Name) + ": " + e.what());
            }
        };
        // A context not known to hold the answerer gets it with the call,
        // rather than a round trip to learn that it is missing.
        if (FContext->Installed.load())
            call(CallInstalled);
        else
            call(InstallingFunction());
        auto details = result.find("exceptionDetails");
        if (details != result.end() && ReadException(*details).Kind == "install") {
            call(InstallingFunction()); // the context has a new document
            details = result.find("exceptionDetails");
        }
        FContext->Installed = true;
        if (details != result.end()) {
            const PageException e = ReadException(*details);
            throw PageFailure(e.Kind, e.Text, FClassName, Name);
        }
        return FromRemoteObject(result.value("result", json::object()), FContext);
    }

    ContextPtr FContext;
    std::string FObjectId;
};

// Integral numbers become Integers; other numbers (fractions, NaN, Infinity)
// their JavaScript text, since a Variant has no floating point.
Variant FromNumber(const json& Object) {
    const auto value = Object.find("value");
    if (value != Object.end() && value->is_number_integer())
        return Variant(value->get<std::int64_t>());
    if (value != Object.end() && value->is_number_float()) {
        const double d = value->get<double>();
        if (std::trunc(d) == d && std::fabs(d) < 9.2e18)
            return Variant(static_cast<std::int64_t>(d));
    }
    const std::string special = Object.value("unserializableValue", "");
    if (special == "-0")
        return Variant(0);
    return Variant(Object.value("description", special));
}

// Run on a window object in the context that handed it out: 0 when it is
// that context's own window, N when it is its ancestor N levels up, the
// frame element holding it when it is a frame of this document, else null.
constexpr const char* LocateFrame = R"js(function () {
    const w = this;
    if (w === window)
        return 0;
    let up = 0;
    for (let a = window; a.parent !== a; a = a.parent) {
        ++up;
        if (a.parent === w)
            return up;
    }
    for (const e of document.querySelectorAll('iframe, frame, object, embed'))
        if (e.contentWindow === w)
            return e;
    return null;
})js";

json CallOn(const ContextPtr& Context, const std::string& ObjectId, const char* Function) {
    return Context->Page->Connection->Command(
        "Runtime.callFunctionOn",
        {{"objectId", ObjectId}, {"functionDeclaration", Function}, {"silent", true}},
        Context->SessionId);
}

// The window of frame FrameId, held in that frame's own context, so that its
// document reads as any page's whatever its origin; null when the frame
// cannot be found or evaluated in.
std::shared_ptr<DevToolsObject> FrameWindow(const std::shared_ptr<DevToolsPage>& Page,
                                            const std::string& FrameId) {
    const std::optional<FrameSpot> spot = FindFrame(*Page, FrameId);
    if (!spot)
        return nullptr;
    DevToolsConnection& c = *Page->Connection;
    for (int attempt = 0; attempt < 2; ++attempt) {
        auto context = std::make_shared<DevToolsContext>();
        context->Page = Page;
        context->SessionId = spot->SessionId;
        context->FrameId = FrameId;
        // A frame inside its process's page gets a world of our own: the
        // page scripts' world of such a frame cannot be named by DevTools.
        if (!spot->Root) {
            std::lock_guard lock(Page->Lock);
            if (const auto world = Page->Worlds.find(FrameId); world != Page->Worlds.end())
                context->ContextId = world->second;
        }
        if (!spot->Root && context->ContextId == 0) {
            context->ContextId =
                c.Command("Page.createIsolatedWorld",
                          {{"frameId", FrameId}, {"worldName", "larkspool"}}, spot->SessionId)
                    .value("executionContextId", std::int64_t{0});
            std::lock_guard lock(Page->Lock);
            Page->Worlds[FrameId] = context->ContextId;
        }
        json params{{"expression", "window"}, {"silent", true}};
        if (context->ContextId != 0)
            params["contextId"] = context->ContextId;
        json result;
        try {
            result = c.Command("Runtime.evaluate", params, spot->SessionId);
        } catch (const DevToolsError&) {
            // A world of a document the frame has left: make a new one.
            std::lock_guard lock(Page->Lock);
            if (spot->Root || Page->Worlds.erase(FrameId) == 0)
                throw;
            continue;
        }
        const json object = result.value("result", json::object());
        if (!object.contains("objectId") || result.contains("exceptionDetails"))
            return nullptr;
        return std::make_shared<DevToolsObject>(context, object["objectId"].get<std::string>(),
                                                "Window");
    }
    return nullptr;
}

// A window handed out in one context (a frame of the page, its parent) is
// moved into its own frame's context. When that is impossible (the frame is
// gone), the handle stays where it was, and a frame of another origin then
// refuses its document as the browser does.
Variant WindowInItsOwnContext(const ContextPtr& Context, const std::string& ObjectId) {
    auto here = std::make_shared<DevToolsObject>(Context, ObjectId, "Window");
    try {
        const json located = CallOn(Context, ObjectId, LocateFrame);
        if (located.contains("exceptionDetails"))
            return here;
        const json where = located.value("result", json::object());
        std::string frameId;
        if (where.value("type", "") == "number") {
            const std::int64_t up = where.value("value", std::int64_t{0});
            frameId = Context->FrameId;
            for (std::int64_t i = 0; i < up && !frameId.empty(); ++i) {
                const std::optional<FrameSpot> spot = FindFrame(*Context->Page, frameId);
                frameId = spot ? spot->ParentId : std::string();
            }
            if (up == 0)
                return here;
        } else if (const auto element = where.find("objectId"); element != where.end()) {
            DevToolsConnection& c = *Context->Page->Connection;
            try {
                frameId =
                    c.Command("DOM.describeNode", {{"objectId", *element}}, Context->SessionId)
                        .value("node", json::object())
                        .value("frameId", "");
            } catch (const DevToolsError&) {
            }
            c.Post("Runtime.releaseObject", {{"objectId", *element}}, Context->SessionId);
        }
        if (frameId.empty())
            return here;
        if (auto own = FrameWindow(Context->Page, frameId))
            return Variant(DispatchPtr(std::move(own)));
    } catch (const DevToolsError&) {
        // The frame went away while it was looked for.
    }
    return here;
}

Variant FromRemoteObject(const json& Object, const ContextPtr& Context) {
    const std::string type = Object.value("type", "undefined");
    if (type == "string")
        return Variant(Object.value("value", ""));
    if (type == "boolean")
        return Variant(Object.value("value", false));
    if (type == "number")
        return FromNumber(Object);
    if (type == "bigint") {
        std::string digits = Object.value("unserializableValue", "");
        if (!digits.empty() && digits.back() == 'n')
            digits.pop_back();
        const Variant text(digits);
        try {
            return Variant(text.ToInteger());
        } catch (const DispatchError&) {
            return text;
        }
    }
    if (Object.value("subtype", "") == "null")
        return Variant::Null();
    if (const auto id = Object.find("objectId"); id != Object.end() && id->is_string()) {
        const std::string className = Object.value("className", "Object");
        if (className == "Window")
            return WindowInItsOwnContext(Context, id->get<std::string>());
        return std::make_shared<DevToolsObject>(Context, id->get<std::string>(), className);
    }
    if (type == "symbol")
        return Variant(Object.value("description", ""));
    return Variant();
}

} // namespace

std::string DevToolsBrowser::DefaultChromiumPath() {
    const char* path = std::getenv("LARKSPOOL_CHROMIUM");
    return path != nullptr && *path != '\0' ? path : DefaultChromium;
}

DevToolsBrowser::DevToolsBrowser() : DevToolsBrowser(Options{}) {}

DevToolsBrowser::DevToolsBrowser(Options Settings) : FOptions(std::move(Settings)) {
    if (FOptions.ChromiumPath.empty())
        FOptions.ChromiumPath = DefaultChromiumPath();
    FConnection = std::make_shared<DevToolsConnection>(
        FOptions.ChromiumPath, FOptions.CommandTimeout, FOptions.ExtraFlags, FOptions.Prepare);
    AnswerChallenges();
    // A headless browser would otherwise save downloads in ~/Downloads.
    json behavior{{"behavior", "deny"}};
    try {
        if (!FOptions.DownloadFolder.empty())
            AllowDownloads(FOptions.DownloadFolder);
        else
            FConnection->Command("Browser.setDownloadBehavior", behavior);
    } catch (...) {
        FConnection->Close();
        throw;
    }
}

json DevToolsBrowser::Command(const std::string& Method, const json& Params,
                              const std::string& SessionId) {
    return FConnection->Command(Method, Params.is_null() ? json::object() : Params, SessionId);
}

void DevToolsBrowser::SetCookies(const std::vector<BrowserCookie>& Cookies) {
    json params = json::array();
    for (const BrowserCookie& cookie : Cookies)
        if (IsUsableCookie(cookie))
            params.push_back(CookieParam(cookie));
    if (!params.empty())
        FConnection->Command("Storage.setCookies", {{"cookies", std::move(params)}}, {});
}

std::vector<BrowserCookie> DevToolsBrowser::Cookies() {
    return CookiesFromJson(
        FConnection->Command("Storage.getCookies", json::object(), {}).value("cookies", json()));
}

std::uint64_t DevToolsBrowser::CommandsSent() const {
    return FConnection->CommandsSent();
}

void DevToolsBrowser::AllowDownloads(const std::string& Folder) {
    // Download events come without a session: watch the browser's own.
    FConnection->WatchSession({});
    FConnection->Command(
        "Browser.setDownloadBehavior",
        {{"behavior", "allow"}, {"downloadPath", Folder}, {"eventsEnabled", true}});
    FOptions.DownloadFolder = Folder;
}

std::size_t DevToolsBrowser::DownloadsStarted() const {
    return FConnection->EventCount({}, "Browser.downloadWillBegin");
}

std::size_t DevToolsBrowser::DownloadsCompleted() const {
    return FConnection->EventCount({}, "Browser.downloadProgress.completed");
}

std::size_t DevToolsBrowser::DownloadsCanceled() const {
    return FConnection->EventCount({}, "Browser.downloadProgress.canceled");
}

std::string DevToolsBrowser::DownloadState(const std::string& Url) const {
    std::string state;
    for (const auto& [address, last] : FConnection->Downloads())
        if (address == Url && state != "completed")
            state = last;
    return state;
}

bool DevToolsBrowser::WaitForDownloads(std::size_t Started, Milliseconds Limit) {
    const auto deadline = Clock::now() + Limit;
    for (;;) {
        // Event counts first, so an event arriving while the state is read
        // still ends the wait below.
        const std::uint64_t begins = FConnection->EventCount({}, "Browser.downloadWillBegin");
        const std::uint64_t progress = FConnection->EventCount({}, "Browser.downloadProgress");
        const std::size_t begun = DownloadsStarted();
        const std::size_t ended = DownloadsCompleted() + DownloadsCanceled();
        if (begun >= Started && ended >= begun)
            return true;
        const bool waited =
            begun < Started
                ? FConnection->WaitForEvent({}, "Browser.downloadWillBegin", begins, deadline)
                : FConnection->WaitForEvent({}, "Browser.downloadProgress", progress, deadline);
        if (!waited)
            return false;
    }
}

DevToolsBrowser::~DevToolsBrowser() {
    Close();
}

void DevToolsBrowser::Close() {
    FConnection->Close();
}

bool DevToolsBrowser::IsOpen() const {
    return FConnection->IsOpen();
}

pid_t DevToolsBrowser::ProcessId() const {
    return FConnection->ProcessId();
}

void DevToolsBrowser::LowerPriority() {
    // The group holds the browser and every helper it forks (they inherit
    // the value too); a failure only leaves the priority as it was.
    if (IsOpen())
        ::setpriority(PRIO_PGRP, static_cast<id_t>(ProcessId()), 19);
}

const std::string& DevToolsBrowser::ChromiumPath() const {
    return FOptions.ChromiumPath;
}

Variant DevToolsBrowser::Open(const std::string& Url) {
    return Open(Url, FOptions.LoadTimeout);
}

Variant DevToolsBrowser::Open(const std::string& Url, Milliseconds LoadTimeout) {
    const auto deadline = Clock::now() + LoadTimeout;
    // Failures inside give only the reason; the address is added once below.
    const auto notLoaded = [&] {
        return DevToolsError("the page did not finish loading within " + DurationText(LoadTimeout));
    };
    DevToolsConnection& c = *FConnection;
    try {
        // A blank tab first: created with the address itself, the tab races
        // with its initial empty document.
        const json target = c.Command("Target.createTarget", {{"url", "about:blank"}});
        const std::string targetId = target.value("targetId", "");
        std::shared_ptr<DevToolsPage> page;
        try {
            const json attached =
                c.Command("Target.attachToTarget", {{"targetId", targetId}, {"flatten", true}});
            page = std::make_shared<DevToolsPage>(FConnection, targetId,
                                                  attached.value("sessionId", ""));
        } catch (...) {
            c.Post("Target.closeTarget", {{"targetId", targetId}});
            throw;
        }
        const std::string& session = page->SessionId;
        c.Command("Page.enable", json::object(), session);
        // The answer's status of the page itself.
        c.Command("Network.enable", json::object(), session);
        AskForChallenges(session);
        // Frames of other sites run in processes of their own: their
        // sessions are attached as they appear, so that they can be read.
        c.Command("Target.setAutoAttach",
                  {{"autoAttach", true}, {"waitForDebuggerOnStart", false}, {"flatten", true}},
                  session);
        std::uint64_t seen = c.EventCount(session, "Page.loadEventFired");
        json navigated;
        try {
            navigated = c.Command("Page.navigate", {{"url", Url}}, session, Remaining(deadline));
        } catch (const DevToolsError&) {
            if (Clock::now() >= deadline)
                throw notLoaded();
            throw;
        }
        page->MainFrameId = navigated.value("frameId", targetId);
        const std::string loader = navigated.value("loaderId", "");
        // An error answer shows the server's page (or the browser's own when
        // it has no body): either way not the page asked for.
        const auto checkAnswer = [&] {
            for (const json& response : c.Events(session, "Network.responseReceived")) {
                if (response.value("frameId", "") != page->MainFrameId ||
                    (!loader.empty() && response.value("loaderId", "") != loader))
                    continue;
                const json answer = response.value("response", json::object());
                const int status = answer.value("status", 0);
                if (status >= 400) {
                    if (const std::string asked = CredentialsAsked(answer); !asked.empty())
                        throw DevToolsError(asked);
                    const std::string text = answer.value("statusText", "");
                    throw DevToolsError("the page answered HTTP " + std::to_string(status) +
                                        (text.empty() ? "" : " " + text));
                }
            }
        };
        if (const std::string error = navigated.value("errorText", ""); !error.empty()) {
            CheckChallenges(session, page->MainFrameId);
            checkAnswer();
            throw DevToolsError(error);
        }
        auto context = std::make_shared<DevToolsContext>();
        context->Page = page;
        context->SessionId = session;
        context->FrameId = page->MainFrameId;
        // A late load event of the blank document must not pass for the page's.
        // The load event waits for every frame, those of other processes too.
        const std::string ready = Url == "about:blank"
                                      ? "document.readyState === 'complete' ? window : null"
                                      : "document.readyState === 'complete' && "
                                        "location.href !== 'about:blank' ? window : null";
        for (;;) {
            if (!c.WaitForEvent(session, "Page.loadEventFired", seen, deadline))
                throw notLoaded();
            seen = c.EventCount(session, "Page.loadEventFired");
            const json result = c.Command("Runtime.evaluate", {{"expression", ready}}, session);
            const Variant window =
                FromRemoteObject(result.value("result", json::object()), context);
            if (window.IsObject()) {
                CheckChallenges(session, page->MainFrameId);
                checkAnswer();
                // Read from one snapshot of each frame, not call by call.
                return SnapshotWindow(window);
            }
        }
    } catch (const DevToolsError& e) {
        throw DevToolsError("Cannot open " + Url + ": " + e.what());
    }
}

// HTTP authentication. Headless Chromium has nobody to ask for a password:
// unanswered, a challenge fails the load (net::ERR_INVALID_AUTH_CREDENTIALS).
// With credentials given, the documents of each tab (its page and frames,
// not their pictures or scripts, which then get the credentials the browser
// keeps) pause on their way out, so that the browser hands their challenges
// to us. The browser asks again for the same request when the answer was
// refused; that second time it is told to give up, which shows the server's
// error page, and Open reports the refusal.
struct AuthChallenges {
    struct Refusal {
        std::string SessionId, FrameId, Url;
        bool Proxy = false;
        bool Given = false; // refused, rather than asked for with none given
    };
    std::mutex Lock;
    std::set<std::string> Sessions; // tabs whose challenges are ours to answer
    std::set<std::string> Answered; // "SESSION REQUEST": credentials given once
    std::vector<Refusal> Refused;
};

namespace {

using Credentials = DevToolsBrowser::Credentials;

// Runs on the connection's reading thread, so it only posts.
void OnChallengeEvent(AuthChallenges& State, DevToolsConnection& C, const Credentials& Site,
                      const Credentials& Proxy, const std::string& Session,
                      const std::string& Method, const json& Params) {
    if (!Method.starts_with("Fetch."))
        return;
    const std::string id = Params.value("requestId", "");
    {
        std::lock_guard lock(State.Lock);
        if (!State.Sessions.contains(Session))
            return;
    }
    if (Method == "Fetch.requestPaused") {
        C.Post("Fetch.continueRequest", {{"requestId", id}}, Session);
        return;
    }
    if (Method != "Fetch.authRequired")
        return;
    const bool proxy = Params.value("authChallenge", json::object()).value("source", "") == "Proxy";
    const Credentials& given = proxy ? Proxy : Site;
    bool answer;
    {
        std::lock_guard lock(State.Lock);
        answer = State.Answered.insert(Session + " " + id).second && given.Given();
        // Noted before the browser hears of it: the load Open waits for
        // ends only after the browser gave up.
        if (!answer)
            State.Refused.push_back({Session, Params.value("frameId", ""),
                                     Params.value("request", json::object()).value("url", ""),
                                     proxy, given.Given()});
    }
    const json response = answer ? json{{"response", "ProvideCredentials"},
                                        {"username", given.User},
                                        {"password", given.Password}}
                                 : json{{"response", "CancelAuth"}};
    C.Post("Fetch.continueWithAuth", {{"requestId", id}, {"authChallengeResponse", response}},
           Session);
}

std::string AskedFor(bool Proxy, const Credentials& Given) {
    return std::string(Proxy ? "the proxy" : "the server") +
           " asks for a user name and password, and none was given" +
           (Given.Hint.empty() ? "" : "; " + Given.Hint);
}

bool HasHeader(const json& Response, std::string_view Name) {
    const auto headers = Response.find("headers");
    if (headers == Response.end() || !headers->is_object())
        return false;
    for (auto header = headers->begin(); header != headers->end(); ++header)
        if (EqualsNoCase(header.key(), Name))
            return true;
    return false;
}

} // namespace

void DevToolsBrowser::AnswerChallenges() {
    if (!FOptions.Site.Given() && !FOptions.Proxy.Given())
        return;
    FChallenges = std::make_shared<AuthChallenges>();
    // The handler belongs to the connection, which it therefore need not keep.
    FConnection->SetEventHandler(
        [state = FChallenges, connection = FConnection.get(), site = FOptions.Site,
         proxy = FOptions.Proxy](const std::string& Session, const std::string& Method,
                                 const json& Params) {
            OnChallengeEvent(*state, *connection, site, proxy, Session, Method, Params);
        });
}

void DevToolsBrowser::AskForChallenges(const std::string& SessionId) {
    if (!FChallenges)
        return;
    {
        std::lock_guard lock(FChallenges->Lock);
        FChallenges->Sessions.insert(SessionId);
    }
    // Only documents of http and https pause, and only before they are sent
    // (a challenge is handed over only for a request paused there):
    // pictures, style sheets, scripts and local files go out as without it.
    json patterns = json::array();
    for (const char* scheme : {"http://*", "https://*"})
        patterns.push_back(
            {{"urlPattern", scheme}, {"resourceType", "Document"}, {"requestStage", "Request"}});
    FConnection->Command("Fetch.enable", {{"handleAuthRequests", true}, {"patterns", patterns}},
                         SessionId);
}

void DevToolsBrowser::CheckChallenges(const std::string& SessionId,
                                      const std::string& MainFrameId) const {
    if (!FChallenges)
        return;
    std::optional<AuthChallenges::Refusal> refused;
    {
        std::lock_guard lock(FChallenges->Lock);
        for (const AuthChallenges::Refusal& r : FChallenges->Refused)
            if (r.SessionId == SessionId && (!refused || r.FrameId == MainFrameId)) {
                refused = r;
                if (r.FrameId == MainFrameId)
                    break;
            }
    }
    if (!refused)
        return;
    const Credentials& given = refused->Proxy ? FOptions.Proxy : FOptions.Site;
    if (!refused->Given)
        throw DevToolsError(AskedFor(refused->Proxy, given));
    throw DevToolsError(std::string(refused->Proxy ? "the proxy" : "the server") +
                        " refused the user name and password" +
                        (refused->FrameId == MainFrameId ? "" : " for its frame " + refused->Url));
}

std::string DevToolsBrowser::CredentialsAsked(const json& Response) const {
    const int status = Response.value("status", 0);
    if (status == 401 && !FOptions.Site.Given() && HasHeader(Response, "WWW-Authenticate"))
        return AskedFor(false, FOptions.Site);
    if (status == 407 && !FOptions.Proxy.Given())
        return AskedFor(true, FOptions.Proxy);
    return {};
}

Variant DevToolsBrowser::Evaluate(const Variant& Window, const std::string& Expression) {
    const DispatchPtr live = LiveObjectOf(Window.ToObject());
    const auto* object = dynamic_cast<const DevToolsObject*>(live.get());
    if (object == nullptr)
        throw DispatchError("Evaluate: the window does not belong to a browser page");
    // The expression may change what the window's reads answer.
    RetakeSnapshot(Window.ToObject());
    const ContextPtr& context = object->Context();
    json params{{"expression", Expression}, {"silent", true}};
    if (context->ContextId != 0)
        params["contextId"] = context->ContextId;
    const json result =
        context->Page->Connection->Command("Runtime.evaluate", params, context->SessionId);
    if (const auto details = result.find("exceptionDetails"); details != result.end())
        throw DispatchError("Evaluate: " + ReadException(*details).Text);
    return FromRemoteObject(result.value("result", json::object()), context);
}

} // namespace larkspool
