#include "browser/PageSnapshot.h"

#include "browser/LivePageObject.h"
#include "browser/PageFailure.h"

#include <nlohmann/json.hpp>

#include <cmath>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace larkspool {

namespace {

using nlohmann::json;

class SnapshotObject;

// One snapshot of one frame: the page's objects by index (0 is the window)
// and the objects of ours handed out for them.
struct SnapshotData {
    json Objects;
    SnapshotTaker Take;
    std::mutex Lock;
    std::vector<std::weak_ptr<SnapshotObject>> Handed;
    // Windows of other frames read through this snapshot, by the step that
    // reached them, so that each frame is asked for and taken once.
    std::map<std::string, Variant> Windows;
};
using DataPtr = std::shared_ptr<SnapshotData>;

// How an object was reached from the one that handed it out.
struct Step {
    bool IsCall = false;
    std::string Name;
    std::vector<Variant> Args;

    Variant On(const DispatchPtr& Live) const {
        return IsCall ? Live->Call(Name, Args) : Live->Get(Name);
    }
};

// The key of a call's arguments in the snapshot: its integers joined by
// commas, as the page writes them; nothing for any other arguments.
std::optional<std::string> ArgumentsKey(const std::vector<Variant>& Args) {
    if (Args.empty())
        return std::nullopt;
    std::string key;
    for (const Variant& arg : Args) {
        if (arg.GetType() != Variant::Type::Integer)
            return std::nullopt;
        key += (key.empty() ? "" : ",") + std::to_string(arg.ToInteger());
    }
    return key;
}

Variant NumberOf(const json& Value) {
    if (Value.is_number_unsigned() &&
        Value.get<std::uint64_t>() > static_cast<std::uint64_t>(INT64_MAX))
        return Variant(Value.dump());
    if (Value.is_number_integer())
        return Variant(Value.get<std::int64_t>());
    const double d = Value.get<double>();
    if (std::trunc(d) == d && d >= -9223372036854775808.0 && d < 9223372036854775808.0)
        return Variant(static_cast<std::int64_t>(d));
    return Variant(Value.dump());
}

class SnapshotObject : public IDispatchObject, public std::enable_shared_from_this<SnapshotObject> {
public:
    // A window: its snapshot is taken at the first read.
    SnapshotObject(DispatchPtr Live, SnapshotTaker Take)
        : FClassName(Live->ClassName()), FLive(std::move(Live)), FTake(std::move(Take)),
          FRoot(true) {}
    // Object Index of Data, reached from Parent by How.
    SnapshotObject(DataPtr Data, std::size_t Index, std::string ClassName,
                   std::shared_ptr<SnapshotObject> Parent, Step How)
        : FClassName(std::move(ClassName)), FData(std::move(Data)), FIndex(Index),
          FParent(std::move(Parent)), FStep(std::move(How)) {}

    Variant Get(std::string_view Name) override {
        const DataPtr data = Data();
        if (const json* answer = Find(data, "g", Name, ""))
            return Answer(data, *answer, Name, Step{false, std::string(Name), {}}, "g:");
        return Live()->Get(Name);
    }

    Variant Call(std::string_view Name, const std::vector<Variant>& Args) override {
        const DataPtr data = Data();
        if (const std::optional<std::string> key = ArgumentsKey(Args))
            if (const json* answer = Find(data, "k", Name, *key))
                return Answer(data, *answer, Name, Step{true, std::string(Name), Args},
                              "k:" + *key + ":");
        return Live()->Call(Name, Args);
    }

    // Writes go to the page; the snapshot keeps the page as it was read.
    void Put(std::string_view Name, const Variant& Value) override { Live()->Put(Name, Value); }

    Variant DefaultValue() override {
        if (FClassName == "Location")
            return Get("href");
        return IDispatchObject::DefaultValue();
    }

    std::string ClassName() const override { return FClassName; }

    // The page's object, reached by the same steps when first needed.
    DispatchPtr Live() {
        std::lock_guard lock(FLiveLock);
        if (!FLive)
            FLive = FStep.On(FParent->Live()).ToObject();
        return FLive;
    }

    void Retake() {
        std::lock_guard lock(FDataLock);
        if (FRoot) {
            FData.reset();
            FTaken = false;
        }
    }

private:
    // The snapshot answering this object; a window takes it at its first read.
    DataPtr Data() {
        std::lock_guard lock(FDataLock);
        if (!FRoot || FTaken)
            return FData;
        FTaken = true;
        FData = Take();
        return FData;
    }

    DataPtr Take() {
        const std::optional<std::string> text = FTake(FLive);
        if (!text)
            return nullptr;
        auto data = std::make_shared<SnapshotData>();
        try {
            json parsed = json::parse(*text);
            if (!parsed.is_object() || !parsed.contains("objects") ||
                !parsed["objects"].is_array() || parsed["objects"].empty())
                return nullptr;
            data->Objects = std::move(parsed["objects"]);
        } catch (const json::exception&) {
            return nullptr;
        }
        data->Take = FTake;
        data->Handed.resize(data->Objects.size());
        data->Handed[0] = weak_from_this();
        return data;
    }

    // The answer kept for a read (Kind "g") or a call (Kind "k") of this
    // object, or null when the snapshot has none.
    const json* Find(const DataPtr& Data, const char* Kind, std::string_view Name,
                     const std::string& Key) const {
        if (!Data || FIndex >= Data->Objects.size())
            return nullptr;
        const json& entry = Data->Objects[FIndex];
        if (!entry.is_object())
            return nullptr;
        const auto members = entry.find(Kind);
        if (members == entry.end() || !members->is_object())
            return nullptr;
        const auto member = members->find(std::string(Name));
        if (member == members->end())
            return nullptr;
        if (Key.empty())
            return &*member;
        if (!member->is_object())
            return nullptr;
        const auto answer = member->find(Key);
        return answer == member->end() ? nullptr : &*answer;
    }

    Variant Answer(const DataPtr& Data, const json& Value, std::string_view Name, Step How,
                   const std::string& WindowKey) {
        if (Value.is_string())
            return Variant(Value.get<std::string>());
        if (Value.is_boolean())
            return Variant(Value.get<bool>());
        if (Value.is_number())
            return NumberOf(Value);
        if (Value.is_null() || !Value.is_object())
            return Variant::Null();
        if (const auto index = Value.find("o"); index != Value.end() && index->is_number_unsigned())
            return Object(Data, index->get<std::size_t>(), std::move(How));
        if (Value.contains("w"))
            return OtherWindow(Data, WindowKey + std::string(Name), How);
        if (const auto text = Value.find("n"); text != Value.end() && text->is_string())
            return Variant(text->get<std::string>());
        if (const auto kind = Value.find("e"); kind != Value.end() && kind->is_string())
            throw PageFailure(kind->get<std::string>(), Value.value("t", ""), FClassName, Name);
        return Variant(); // {"u": 1}, undefined
    }

    // The object of the snapshot at Index, one of ours per page object.
    Variant Object(const DataPtr& Data, std::size_t Index, Step How) {
        if (Index >= Data->Objects.size())
            return Variant::Null();
        std::lock_guard lock(Data->Lock);
        if (auto held = Data->Handed[Index].lock())
            return Variant(DispatchPtr(std::move(held)));
        const json& entry = Data->Objects[Index];
        const std::string className =
            entry.is_object() ? entry.value("c", std::string("Object")) : "Object";
        auto object = std::make_shared<SnapshotObject>(Data, Index, className, shared_from_this(),
                                                       std::move(How));
        Data->Handed[Index] = object;
        return Variant(DispatchPtr(std::move(object)));
    }

    // A window of another frame: asked of the page, then read from a
    // snapshot of its own frame.
    Variant OtherWindow(const DataPtr& Data, const std::string& Key, const Step& How) {
        const std::string key = std::to_string(FIndex) + ":" + Key;
        {
            std::lock_guard lock(Data->Lock);
            if (const auto found = Data->Windows.find(key); found != Data->Windows.end())
                return found->second;
        }
        Variant window = How.On(Live());
        if (window.IsObject())
            window = SnapshotWindow(window, Data->Take);
        std::lock_guard lock(Data->Lock);
        return Data->Windows.emplace(key, window).first->second;
    }

    const std::string FClassName;
    std::mutex FLiveLock;
    DispatchPtr FLive;
    SnapshotTaker FTake;
    const bool FRoot = false;
    std::mutex FDataLock;
    bool FTaken = false;
    DataPtr FData;
    std::size_t FIndex = 0;
    const std::shared_ptr<SnapshotObject> FParent;
    const Step FStep;
};

} // namespace

std::optional<std::string> TakeLiveSnapshot(const DispatchPtr& LiveWindow) {
    auto* live = dynamic_cast<LivePageObject*>(LiveWindow.get());
    if (live == nullptr)
        return std::nullopt;
    try {
        const Variant text = live->Snapshot();
        if (text.GetType() == Variant::Type::Text)
            return text.ToText();
    } catch (const DispatchError&) {
        // A page side without snapshots: every read goes to the page.
    }
    return std::nullopt;
}

Variant SnapshotWindow(const Variant& LiveWindow, SnapshotTaker Take) {
    if (!LiveWindow.IsObject() || dynamic_cast<SnapshotObject*>(LiveWindow.ToObject().get()))
        return LiveWindow;
    return Variant(
        DispatchPtr(std::make_shared<SnapshotObject>(LiveWindow.ToObject(), std::move(Take))));
}

DispatchPtr LiveObjectOf(const DispatchPtr& Object) {
    if (auto* snapshot = dynamic_cast<SnapshotObject*>(Object.get()))
        return snapshot->Live();
    return Object;
}

void RetakeSnapshot(const DispatchPtr& Window) {
    if (auto* snapshot = dynamic_cast<SnapshotObject*>(Window.get()))
        snapshot->Retake();
}

} // namespace larkspool
