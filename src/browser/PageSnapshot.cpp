#include "browser/PageSnapshot.h"

#include "browser/LivePageObject.h"
#include "browser/PageFailure.h"

#include <nlohmann/json.hpp>

#include <cmath>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace larkspool {

namespace {

using nlohmann::json;

class SnapshotObject;

// One snapshot of one frame, as the page wrote it (answerer.js, snapshot),
// with what finds an answer without building strings: the names by their
// spelling and each object's calls by name and arguments.
class SnapshotData {
public:
    // Nothing when Text is not a snapshot.
    static std::shared_ptr<SnapshotData> Read(const std::string& Text) {
        auto data = std::make_shared<SnapshotData>();
        try {
            data->FRoot = json::parse(Text);
        } catch (const json::exception&) {
            return nullptr;
        }
        return data->Index() ? data : nullptr;
    }

    std::size_t Size() const { return FObjects.size(); }
    const std::string& ClassOf(std::size_t Index) const { return *FNames[FObjects[Index].Class]; }

    // The answer kept for a read of object Index, or null.
    const json* Read(std::size_t Index, std::string_view Name) const {
        const auto name = FNameIds.find(Name);
        if (name == FNameIds.end() || Index >= FObjects.size())
            return nullptr;
        const json& gets = *FObjects[Index].Gets;
        for (std::size_t k = 0; k + 1 < gets.size(); k += 2)
            if (gets[k].is_number_unsigned() && gets[k].get<std::size_t>() == name->second)
                return &gets[k + 1];
        return nullptr;
    }

    // The answer kept for a call of object Index with integer arguments, or null.
    const json* Called(std::size_t Index, std::string_view Name,
                       const std::vector<std::int64_t>& Args) const {
        const auto name = FNameIds.find(Name);
        if (name == FNameIds.end() || Index >= FObjects.size())
            return nullptr;
        const auto& calls = FObjects[Index].Calls;
        const auto found = calls.find(CallKey{name->second, Args});
        return found == calls.end() ? nullptr : found->second;
    }

    SnapshotTaker Take;
    std::mutex Lock;
    std::vector<std::weak_ptr<SnapshotObject>> Handed;
    // Windows of other frames read through this snapshot, by the step that
    // reached them, so that each frame is asked for and taken once.
    std::map<std::string, Variant> Windows;

private:
    using CallKey = std::pair<std::size_t, std::vector<std::int64_t>>;
    struct Entry {
        std::size_t Class = 0;
        const json* Gets = nullptr;
        std::map<CallKey, const json*> Calls;
    };

    // Checks the form once, so that answering needs no checks of its own.
    bool Index() {
        const auto names = FRoot.find("names");
        const auto objects = FRoot.find("objects");
        if (!FRoot.is_object() || FRoot.value("v", 0) != 2 || names == FRoot.end() ||
            !names->is_array() || objects == FRoot.end() || !objects->is_array() ||
            objects->empty())
            return false;
        for (const json& name : *names) {
            if (!name.is_string())
                return false;
            FNames.push_back(&name.get_ref<const std::string&>());
            FNameIds.emplace(*FNames.back(), FNames.size() - 1);
        }
        const auto isName = [&](const json& Value) {
            return Value.is_number_unsigned() && Value.get<std::size_t>() < FNames.size();
        };
        FObjects.reserve(objects->size());
        for (const json& object : *objects) {
            if (!object.is_array() || object.size() != 3 || !isName(object[0]) ||
                !object[1].is_array() || object[1].size() % 2 != 0 || !object[2].is_array() ||
                object[2].size() % 3 != 0)
                return false;
            Entry& entry = FObjects.emplace_back();
            entry.Class = object[0].get<std::size_t>();
            entry.Gets = &object[1];
            for (std::size_t k = 0; k < object[1].size(); k += 2)
                if (!isName(object[1][k]))
                    return false;
            const json& calls = object[2];
            for (std::size_t k = 0; k < calls.size(); k += 3) {
                if (!isName(calls[k]) || !calls[k + 1].is_array())
                    return false;
                CallKey key{calls[k].get<std::size_t>(), {}};
                for (const json& arg : calls[k + 1]) {
                    if (!arg.is_number_integer())
                        return false;
                    key.second.push_back(arg.get<std::int64_t>());
                }
                entry.Calls.emplace(std::move(key), &calls[k + 2]);
            }
        }
        Handed.resize(FObjects.size());
        return true;
    }

    json FRoot;
    std::vector<const std::string*> FNames;
    std::unordered_map<std::string_view, std::size_t> FNameIds;
    std::vector<Entry> FObjects;
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

// A call's arguments as the snapshot keeps them: integers only.
std::optional<std::vector<std::int64_t>> IntegerArguments(const std::vector<Variant>& Args) {
    if (Args.empty())
        return std::nullopt;
    std::vector<std::int64_t> integers;
    integers.reserve(Args.size());
    for (const Variant& arg : Args) {
        if (arg.GetType() != Variant::Type::Integer)
            return std::nullopt;
        integers.push_back(arg.ToInteger());
    }
    return integers;
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
        if (const json* answer = data ? data->Read(FIndex, Name) : nullptr)
            return Answer(data, *answer, Name, nullptr);
        return Live()->Get(Name);
    }

    Variant Call(std::string_view Name, const std::vector<Variant>& Args) override {
        const DataPtr data = Data();
        if (data)
            if (const auto integers = IntegerArguments(Args))
                if (const json* answer = data->Called(FIndex, Name, *integers))
                    return Answer(data, *answer, Name, &Args);
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
        DataPtr data = SnapshotData::Read(*text);
        if (!data)
            return nullptr;
        data->Take = FTake;
        data->Handed[0] = weak_from_this();
        return data;
    }

    // The answer Value to the read of Name (Args null) or its call with Args.
    Variant Answer(const DataPtr& Data, const json& Value, std::string_view Name,
                   const std::vector<Variant>* Args) {
        const auto how = [&] {
            return Args ? Step{true, std::string(Name), *Args} : Step{false, std::string(Name), {}};
        };
        if (Value.is_string())
            return Variant(Value.get_ref<const std::string&>());
        if (Value.is_boolean())
            return Variant(Value.get<bool>());
        if (Value.is_number())
            return NumberOf(Value);
        if (Value.is_array()) // [N], object N
            return Value.size() == 1 && Value[0].is_number_unsigned()
                       ? Object(Data, Value[0].get<std::size_t>(), how)
                       : Variant::Null();
        if (!Value.is_object())
            return Variant::Null();
        if (Value.contains("w"))
            return OtherWindow(Data, how());
        if (const auto text = Value.find("n"); text != Value.end() && text->is_string())
            return Variant(text->get<std::string>());
        if (const auto kind = Value.find("e"); kind != Value.end() && kind->is_string())
            throw PageFailure(kind->get<std::string>(), Value.value("t", ""), FClassName, Name);
        return Variant(); // {"u": 1}, undefined
    }

    // The object of the snapshot at Index, one of ours per page object.
    Variant Object(const DataPtr& Data, std::size_t Index, const std::function<Step()>& How) {
        if (Index >= Data->Size())
            return Variant::Null();
        std::lock_guard lock(Data->Lock);
        if (auto held = Data->Handed[Index].lock())
            return Variant(DispatchPtr(std::move(held)));
        auto object = std::make_shared<SnapshotObject>(Data, Index, Data->ClassOf(Index),
                                                       shared_from_this(), How());
        Data->Handed[Index] = object;
        return Variant(DispatchPtr(std::move(object)));
    }

    // A window of another frame: asked of the page, then read from a
    // snapshot of its own frame.
    Variant OtherWindow(const DataPtr& Data, const Step& How) {
        std::string key = std::to_string(FIndex) + (How.IsCall ? ":k:" : ":g:") + How.Name;
        for (const Variant& arg : How.Args)
            key += "," + std::to_string(arg.ToInteger());
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
