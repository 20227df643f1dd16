#include "browser/ExtensionProtocol.h"

#include <cmath>
#include <limits>

namespace larkspool {

using nlohmann::json;

json EncodeValue(const Variant& Value, const HandleOfObject& HandleOf) {
    switch (Value.GetType()) {
    case Variant::Type::Empty:
        return {{"type", "undefined"}};
    case Variant::Type::Null:
        return {{"type", "null"}};
    case Variant::Type::Boolean:
        return {{"type", "boolean"}, {"value", Value.ToBoolean()}};
    case Variant::Type::Integer:
        return {{"type", "number"}, {"value", Value.ToInteger()}};
    case Variant::Type::Text:
        return {{"type", "string"}, {"value", Value.ToText()}};
    case Variant::Type::Object:
        break;
    }
    const DispatchPtr object = Value.ToObject();
    return {{"type", "object"}, {"handle", HandleOf(object)}, {"class", object->ClassName()}};
}

namespace {

// JSON keeps integers past 2^63 - 1 as unsigned; those do not fit.
bool IsInt64(const json& J) {
    return J.is_number_integer() &&
           (!J.is_number_unsigned() ||
            J.get<std::uint64_t>() <=
                static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()));
}

Variant DecodeNumber(const json& Value) {
    const json number = Value.value("value", json());
    if (IsInt64(number))
        return Variant(number.get<std::int64_t>());
    if (number.is_number_integer())
        return Variant(number.dump());
    if (number.is_number_float()) {
        // Whole numbers that fit; 2^63 itself does not.
        const double d = number.get<double>();
        if (std::trunc(d) == d && d >= -9223372036854775808.0 && d < 9223372036854775808.0)
            return Variant(static_cast<std::int64_t>(d));
        return Variant(number.dump());
    }
    // Not finite: the page sends its JavaScript text ("NaN", "-Infinity").
    const json text = Value.value("text", json());
    return Variant(text.is_string() ? text.get<std::string>() : std::string());
}

} // namespace

Variant DecodeValue(const json& Value, const ObjectOfHandle& ObjectOf) {
    if (!Value.is_object())
        return Variant();
    const json type = Value.value("type", json());
    const json value = Value.value("value", json());
    if (type == "null")
        return Variant::Null();
    if (type == "boolean" && value.is_boolean())
        return Variant(value.get<bool>());
    if (type == "string" && value.is_string())
        return Variant(value.get<std::string>());
    if (type == "number")
        return DecodeNumber(Value);
    if (type == "object") {
        const json handle = Value.value("handle", json());
        const json className = Value.value("class", json());
        if (IsInt64(handle))
            return ObjectOf(handle.get<std::int64_t>(),
                            className.is_string() ? className.get<std::string>() : "Object");
    }
    return Variant();
}

namespace {

std::optional<std::int64_t> IntegerOf(const json& Message, const char* Key) {
    const auto found = Message.find(Key);
    if (found == Message.end() || !IsInt64(*found))
        return std::nullopt;
    return found->get<std::int64_t>();
}

std::string TextOf(const json& Message, const char* Key) {
    const auto found = Message.find(Key);
    return found != Message.end() && found->is_string() ? found->get<std::string>() : "";
}

} // namespace

json CallMessage(const CallRequest& Call) {
    return {{"type", "call"},        {"id", Call.Id},     {"op", Call.Op},
            {"handle", Call.Handle}, {"name", Call.Name}, {"args", Call.Args}};
}

std::optional<CallRequest> ReadCall(const json& Message) {
    if (!Message.is_object() || Message.value("type", json()) != "call")
        return std::nullopt;
    const auto id = IntegerOf(Message, "id");
    const auto handle = IntegerOf(Message, "handle");
    const auto op = Message.find("op");
    const auto name = Message.find("name");
    if (!id || !handle || op == Message.end() || !op->is_string() || name == Message.end() ||
        !name->is_string())
        return std::nullopt;
    CallRequest call{*id, op->get<std::string>(), *handle, name->get<std::string>()};
    if (const auto args = Message.find("args"); args != Message.end()) {
        if (!args->is_array())
            return std::nullopt;
        call.Args = *args;
    }
    return call;
}

json ReplyMessage(const CallReply& Reply) {
    json message{{"type", "reply"}, {"id", Reply.Id}};
    if (Reply.Error)
        message["error"] = {{"kind", Reply.Error->Kind}, {"text", Reply.Error->Text}};
    else
        message["value"] = Reply.Value;
    return message;
}

std::optional<CallReply> ReadReply(const json& Message) {
    if (!Message.is_object() || Message.value("type", json()) != "reply")
        return std::nullopt;
    const auto id = IntegerOf(Message, "id");
    if (!id)
        return std::nullopt;
    CallReply reply;
    reply.Id = *id;
    if (const auto error = Message.find("error"); error != Message.end() && error->is_object()) {
        std::string kind = TextOf(*error, "kind");
        reply.Error = PageError{kind.empty() ? "other" : std::move(kind), TextOf(*error, "text")};
    } else if (const auto value = Message.find("value"); value != Message.end()) {
        reply.Value = *value;
    }
    return reply;
}

json ReleaseMessage(const std::vector<std::int64_t>& Handles) {
    return {{"type", "release"}, {"handles", Handles}};
}

std::vector<std::int64_t> ReadRelease(const json& Message) {
    std::vector<std::int64_t> handles;
    if (!Message.is_object() || Message.value("type", json()) != "release")
        return handles;
    const auto list = Message.find("handles");
    if (list == Message.end() || !list->is_array())
        return handles;
    for (const json& h : *list)
        if (IsInt64(h))
            handles.push_back(h.get<std::int64_t>());
    return handles;
}

} // namespace larkspool
