#include "browser/ExtensionConnection.h"

#include "browser/CookieJson.h"
#include "browser/ExtensionProtocol.h"
#include "browser/LivePageObject.h"
#include "browser/NativeMessaging.h"
#include "browser/PageFailure.h"
#include "browser/PageSnapshot.h"

namespace larkspool {

namespace {

using nlohmann::json;

// An object of the page, by its handle in the page's table.
class ExtensionObject : public LivePageObject {
public:
    ExtensionObject(std::shared_ptr<ExtensionConnection> Connection, std::int64_t Handle,
                    std::string ClassName)
        : LivePageObject(std::move(ClassName)), FConnection(std::move(Connection)),
          FHandle(Handle) {}
    ~ExtensionObject() override {
        if (!FConnection->HasEnded())
            FConnection->Release(FHandle);
    }

    std::int64_t Handle() const { return FHandle; }
    const ExtensionConnection* Connection() const { return FConnection.get(); }

private:
    Variant Invoke(const char* Op, std::string_view Name,
                   const std::vector<Variant>& Args) override {
        return FConnection->Call(Op, FHandle, FClassName, Name, Args);
    }

    std::shared_ptr<ExtensionConnection> FConnection;
    std::int64_t FHandle;
};

} // namespace

std::shared_ptr<ExtensionConnection> ExtensionConnection::Open(int In, int Out, Handlers Events) {
    std::shared_ptr<ExtensionConnection> connection(
        new ExtensionConnection(In, Out, std::move(Events)));
    connection->FReader = std::thread([c = connection.get()] { c->ReadLoop(); });
    return connection;
}

ExtensionConnection::ExtensionConnection(int In, int Out, Handlers Events)
    : FIn(In), FOut(Out), FEvents(std::move(Events)) {
    // Without the pipe the reader waits for the input alone.
    FWake.Open();
}

ExtensionConnection::~ExtensionConnection() {
    Close();
}

void ExtensionConnection::Close() {
    if (FReader.joinable()) {
        FWake.Wake();
        if (FReader.get_id() == std::this_thread::get_id())
            FReader.detach(); // closed from a handler: the loop ends on its own
        else
            FReader.join();
    }
    std::lock_guard lock(FLock);
    if (!FEnded) {
        FEnded = true;
        FEndReason = "the connection to the browser was closed";
    }
    FReplied.notify_all();
}

bool ExtensionConnection::HasEnded() const {
    std::lock_guard lock(FLock);
    return FEnded;
}

void ExtensionConnection::Send(const json& Message) {
    {
        std::lock_guard lock(FLock);
        if (FEnded)
            throw DispatchError("The browser is no longer connected (" + FEndReason + ")");
    }
    std::lock_guard write(FWriteLock);
    try {
        WriteNativeMessage(FOut, Message);
    } catch (const NativeMessagingError& e) {
        throw DispatchError(e.what());
    }
}

void ExtensionConnection::Release(std::int64_t Handle) {
    try {
        Send(ReleaseMessage({Handle}));
    } catch (const DispatchError&) {
        // Gone with the connection anyway.
    }
}

Variant ExtensionConnection::Call(const std::string& Op, std::int64_t Handle,
                                  const std::string& ClassName, std::string_view Name,
                                  const std::vector<Variant>& Args) {
    json args = json::array();
    for (const Variant& arg : Args)
        args.push_back(EncodeValue(arg, [&](const DispatchPtr& Object) {
            const DispatchPtr live = LiveObjectOf(Object);
            const auto* object = dynamic_cast<const ExtensionObject*>(live.get());
            if (object == nullptr || object->Connection() != this)
                throw DispatchError(MemberOf(ClassName, Name) +
                                    ": an object of another page cannot be passed to it");
            return object->Handle();
        }));
    json reply;
    try {
        reply = Ask(CallMessage({0, Op, Handle, std::string(Name), std::move(args)}), CallTimeout);
    } catch (const DispatchError& e) {
        throw DispatchError(MemberOf(ClassName, Name) + ": " + e.what());
    }
    const std::optional<CallReply> answer = ReadReply(reply);
    if (!answer)
        throw DispatchError(MemberOf(ClassName, Name) + ": the browser's reply cannot be read");
    if (answer->Error)
        throw PageFailure(answer->Error->Kind, answer->Error->Text, ClassName, Name);
    return FromValue(answer->Value);
}

json ExtensionConnection::Ask(json Message, std::chrono::milliseconds Timeout) {
    std::int64_t id;
    {
        std::lock_guard lock(FLock);
        id = FNextId++;
        FWaiting.insert(id);
    }
    Message["id"] = id;
    try {
        Send(Message);
    } catch (const DispatchError&) {
        std::lock_guard lock(FLock);
        FWaiting.erase(id);
        throw;
    }
    std::unique_lock lock(FLock);
    FReplied.wait_for(lock, Timeout, [&] { return FReplies.count(id) != 0 || FEnded; });
    FWaiting.erase(id);
    if (const auto found = FReplies.find(id); found != FReplies.end()) {
        json reply = std::move(found->second);
        FReplies.erase(found);
        return reply;
    }
    if (FEnded)
        throw DispatchError(FEndReason);
    throw DispatchError("the browser did not answer within " +
                        std::to_string(Timeout.count() / 1000) + " s");
}

std::vector<BrowserCookie> ExtensionConnection::Cookies(const std::vector<std::string>& Hosts) {
    const json reply = Ask({{"type", "cookies"}, {"hosts", Hosts}}, CookiesTimeout);
    if (const json error = reply.value("error", json()); !error.is_null())
        throw DispatchError("the browser did not hand over its cookies: " +
                            (error.is_object() ? error.value("text", std::string("no reason given"))
                                               : std::string("no reason given")));
    return CookiesFromJson(reply.value("cookies", json()));
}

Variant ExtensionConnection::FromValue(const json& Value) {
    return DecodeValue(Value, [this](std::int64_t Handle, const std::string& ClassName) {
        return Variant(std::make_shared<ExtensionObject>(shared_from_this(), Handle, ClassName));
    });
}

void ExtensionConnection::ReadLoop() {
    std::string reason;
    try {
        for (;;) {
            const WakePipe::WaitResult ready = FWake.Wait(FIn);
            if (ready == WakePipe::WaitResult::Woken)
                return; // closed by the program; Close() ends the calls
            if (ready != WakePipe::WaitResult::Ready)
                throw NativeMessagingError("cannot wait for the browser's messages");
            std::optional<json> message = ReadNativeMessage(FIn);
            if (!message)
                break;
            const std::string type = message->value("type", "");
            if (type == "reply") {
                const json id = message->value("id", json());
                std::lock_guard lock(FLock);
                if (id.is_number_integer() && FWaiting.count(id.get<std::int64_t>()) != 0) {
                    FReplies[id.get<std::int64_t>()] = std::move(*message);
                    FReplied.notify_all();
                }
            } else if (type == "hello" && FEvents.Hello) {
                FEvents.Hello(message->value("description", json()));
            } else if (type == "start" && FEvents.Start) {
                // Read from one snapshot of each frame, not call by call.
                FEvents.Start(SnapshotWindow(FromValue(message->value("window", json()))));
            } else if (type == "releaseApp" && FEvents.ReleaseApp) {
                FEvents.ReleaseApp();
            } else if (FEvents.Unexpected) {
                FEvents.Unexpected(*message);
            }
        }
    } catch (const std::exception& e) {
        reason = e.what();
    }
    End(reason);
}

void ExtensionConnection::End(const std::string& Reason) {
    {
        std::lock_guard lock(FLock);
        FEnded = true;
        FEndReason = Reason.empty() ? "the browser closed the connection" : Reason;
        FReplied.notify_all();
    }
    if (FEvents.Ended)
        FEvents.Ended(Reason);
}

} // namespace larkspool
