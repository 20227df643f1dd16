#include "browser/DevToolsBrowser.h"

#include "browser/DevToolsConnection.h"
#include "browser/LivePageObject.h"
#include "browser/PageFailure.h"

#include <cmath>
#include <cstdlib>
#include <limits>

namespace larkspool {

namespace {

using nlohmann::json;
using Clock = DevToolsConnection::Clock;
using Milliseconds = DevToolsConnection::Milliseconds;

constexpr const char* DefaultChromium = "/usr/lib/chromium/chromium";

// Runs in the page with `this` the object a handle stands for, for every
// Get ("get"), Call ("call") and Put ("put"). Failures of our own are thrown
// as "larkspool:KIND:TEXT" strings, which arrive as plain values.
constexpr const char* MemberFunction = R"js(function (op, name) {
    'use strict';
    const args = Array.prototype.slice.call(arguments, 2);
    const target = this;
    const fail = (kind, text) => { throw 'larkspool:' + kind + ':' + (text || ''); };
    const lower = s => String(s).replace(/[A-Z]/g, c => String.fromCharCode(c.charCodeAt(0) + 32));
    const isRefusal = e => e !== null && typeof e === 'object' && e.name === 'SecurityError';
    const probe = f => { try { return f(); } catch (e) { return false; } };
    const key = lower(name);
    try {
        // Chromium's frames collection is the window itself, without item().
        if (key === 'item' && probe(() => target.window === target)) {
            if (op === 'put')
                fail('readonly');
            const index = args[0];
            if (args.length !== 1 || !Number.isInteger(index))
                fail('args', 'takes one integer argument');
            if (index < 0 || index >= target.length)
                fail('args', 'index ' + index + ' is out of range (0 to ' + (target.length - 1) + ')');
            return target[index];
        }
        // document.selection is gone; its text range is the window's selection.
        if (key === 'selection' && op !== 'put' && probe(() => target.nodeType === 9)) {
            const view = target.defaultView;
            class TextRange { constructor(text) { this.text = text; } }
            class TextSelection {
                createRange() {
                    const s = view ? view.getSelection() : null;
                    return new TextRange(s ? s.toString() : '');
                }
            }
            return new TextSelection();
        }
        // The exact name first; a cross-origin window refuses most names
        // outright but still lists the few it offers.
        let real, refused = false;
        try {
            if (name in target)
                real = name;
        } catch (e) {
            if (!isRefusal(e))
                throw e;
            refused = true;
        }
        // Otherwise the first match ignoring case, but a window's interface
        // objects (Document, Location) give way to its members of the same
        // name (document, location).
        if (real === undefined) {
            let capital;
            search: for (let o = target; o !== null && o !== undefined; o = Object.getPrototypeOf(o)) {
                for (const k of Object.getOwnPropertyNames(o)) {
                    if (lower(k) !== key)
                        continue;
                    if (!/^[A-Z]/.test(k)) {
                        real = k;
                        break search;
                    }
                    if (capital === undefined)
                        capital = k;
                }
            }
            if (real === undefined)
                real = capital;
        }
        if (real === undefined)
            fail(refused ? 'denied' : 'missing');
        if (op === 'put') {
            target[real] = args[0];
            return undefined;
        }
        const value = target[real];
        // typeof rather than a null test: document.all claims to be undefined.
        if (typeof value === 'function')
            return value.apply(target, args);
        if (args.length > 0)
            fail('args', 'is a property and takes no arguments');
        return value;
    } catch (e) {
        if (isRefusal(e))
            fail('denied');
        throw e;
    }
})js";

// The member function is installed once in each JavaScript context (a page,
// a frame) under a symbol page scripts do not use; a call then sends only
// this short caller instead of the whole function.
constexpr const char* CallInstalled = R"js(function () {
    const f = globalThis[Symbol.for('larkspool.member')];
    if (typeof f !== 'function')
        throw 'larkspool:install:';
    return f.apply(this, arguments);
})js";

const std::string& InstallingFunction() {
    static const std::string text =
        std::string("function () {\n    const f = ") + MemberFunction +
        ";\n    Object.defineProperty(globalThis, Symbol.for('larkspool.member'), "
        "{value: f, configurable: true});\n    return f.apply(this, arguments);\n}";
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

// One tab and the DevTools session attached to it. Every handle of the page
// holds it, so the tab closes when the last of them goes.
struct DevToolsPage {
    DevToolsPage(std::shared_ptr<DevToolsConnection> C, std::string Target, std::string Session)
        : Connection(std::move(C)), TargetId(std::move(Target)), SessionId(std::move(Session)) {
        Connection->WatchSession(SessionId);
    }
    ~DevToolsPage() {
        Connection->ForgetSession(SessionId);
        Connection->Post("Target.closeTarget", {{"targetId", TargetId}});
    }
    DevToolsPage(const DevToolsPage&) = delete;
    DevToolsPage& operator=(const DevToolsPage&) = delete;

    const std::shared_ptr<DevToolsConnection> Connection;
    const std::string TargetId, SessionId;
};

Variant FromRemoteObject(const json& Object, const std::shared_ptr<DevToolsPage>& Page);

// A JavaScript object of a page, held by its Runtime object id.
class DevToolsObject : public LivePageObject {
public:
    DevToolsObject(std::shared_ptr<DevToolsPage> Page, std::string ObjectId, std::string ClassName)
        : LivePageObject(std::move(ClassName)), FPage(std::move(Page)),
          FObjectId(std::move(ObjectId)) {}
    ~DevToolsObject() override {
        FPage->Connection->Post("Runtime.releaseObject", {{"objectId", FObjectId}},
                                FPage->SessionId);
    }

    const std::shared_ptr<DevToolsPage>& Page() const { return FPage; }
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
        const auto* other = dynamic_cast<const DevToolsObject*>(Value.ToObject().get());
        if (other == nullptr || other->Page() != FPage)
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
                result = FPage->Connection->Command("Runtime.callFunctionOn",
                                                    {{"objectId", FObjectId},
                                                     {"functionDeclaration", Function},
                                                     {"arguments", arguments},
                                                     {"silent", true}},
                                                    FPage->SessionId);
            } catch (const DevToolsError& e) {
                throw DispatchError(MemberOf(Name) + ": " + e.what());
            }
        };
        call(CallInstalled);
        auto details = result.find("exceptionDetails");
        if (details != result.end() && ReadException(*details).Kind == "install") {
            call(InstallingFunction()); // the first call in this context
            details = result.find("exceptionDetails");
        }
        if (details != result.end()) {
            const PageException e = ReadException(*details);
            throw PageFailure(e.Kind, e.Text, FClassName, Name);
        }
        return FromRemoteObject(result.value("result", json::object()), FPage);
    }

    std::shared_ptr<DevToolsPage> FPage;
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

Variant FromRemoteObject(const json& Object, const std::shared_ptr<DevToolsPage>& Page) {
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
    if (const auto id = Object.find("objectId"); id != Object.end() && id->is_string())
        return std::make_shared<DevToolsObject>(Page, id->get<std::string>(),
                                                Object.value("className", "Object"));
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
        std::uint64_t seen = c.EventCount(session, "Page.loadEventFired");
        json navigated;
        try {
            navigated = c.Command("Page.navigate", {{"url", Url}}, session, Remaining(deadline));
        } catch (const DevToolsError&) {
            if (Clock::now() >= deadline)
                throw notLoaded();
            throw;
        }
        if (const std::string error = navigated.value("errorText", ""); !error.empty())
            throw DevToolsError(error);
        // A late load event of the blank document must not pass for the page's.
        const std::string ready = Url == "about:blank"
                                      ? "document.readyState === 'complete' ? window : null"
                                      : "document.readyState === 'complete' && "
                                        "location.href !== 'about:blank' ? window : null";
        for (;;) {
            if (!c.WaitForEvent(session, "Page.loadEventFired", seen, deadline))
                throw notLoaded();
            seen = c.EventCount(session, "Page.loadEventFired");
            const json result = c.Command("Runtime.evaluate", {{"expression", ready}}, session);
            const Variant window = FromRemoteObject(result.value("result", json::object()), page);
            if (window.IsObject())
                return window;
        }
    } catch (const DevToolsError& e) {
        throw DevToolsError("Cannot open " + Url + ": " + e.what());
    }
}

Variant DevToolsBrowser::Evaluate(const Variant& Window, const std::string& Expression) {
    const auto* object = dynamic_cast<const DevToolsObject*>(Window.ToObject().get());
    if (object == nullptr)
        throw DispatchError("Evaluate: the window does not belong to a browser page");
    const auto& page = object->Page();
    const json result = page->Connection->Command(
        "Runtime.evaluate", {{"expression", Expression}, {"silent", true}}, page->SessionId);
    if (const auto details = result.find("exceptionDetails"); details != result.end())
        throw DispatchError("Evaluate: " + ReadException(*details).Text);
    return FromRemoteObject(result.value("result", json::object()), page);
}

} // namespace larkspool
