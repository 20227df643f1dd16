#include "browser/Variant.h"

#include "platform/AsciiText.h"

#include <charconv>

namespace larkspool {

namespace {

// An optionally signed run of decimal digits and nothing else.
bool ParseDecimal(std::string_view S, std::int64_t& Result) {
    S = TrimBlanks(S);
    const bool negative = !S.empty() && S.front() == '-';
    if (!S.empty() && (S.front() == '+' || S.front() == '-'))
        S.remove_prefix(1);
    if (S.empty() || S.front() < '0' || S.front() > '9')
        return false;
    // Parsed as unsigned so that the most negative value is still reachable.
    std::uint64_t magnitude = 0;
    const auto [end, error] = std::from_chars(S.data(), S.data() + S.size(), magnitude);
    if (error != std::errc() || end != S.data() + S.size())
        return false;
    constexpr auto maxPositive = static_cast<std::uint64_t>(INT64_MAX);
    if (negative) {
        if (magnitude > maxPositive + 1)
            return false;
        Result = magnitude == maxPositive + 1 ? INT64_MIN : -static_cast<std::int64_t>(magnitude);
    } else {
        if (magnitude > maxPositive)
            return false;
        Result = static_cast<std::int64_t>(magnitude);
    }
    return true;
}

[[noreturn]] void ThrowNotConvertible(const Variant& Value, const char* Target) {
    std::string message = "Cannot convert ";
    if (Value.GetType() == Variant::Type::Text)
        message += "the text '" + Value.ToText() + "'";
    else
        message += std::string("a value of type ") + TypeName(Value.GetType());
    message += " to ";
    message += Target;
    throw DispatchError(message);
}

[[noreturn]] void ThrowNotAnObject(const char* Action, std::string_view Name,
                                   Variant::Type Actual) {
    throw DispatchError(std::string("Cannot ") + Action + " member '" + std::string(Name) +
                        "' of a value that is not an object (" + TypeName(Actual) + ")");
}

} // namespace

const char* TypeName(Variant::Type T) {
    switch (T) {
    case Variant::Type::Empty:
        return "Empty";
    case Variant::Type::Null:
        return "Null";
    case Variant::Type::Boolean:
        return "Boolean";
    case Variant::Type::Integer:
        return "Integer";
    case Variant::Type::Text:
        return "Text";
    case Variant::Type::Object:
        return "Object";
    }
    return "?";
}

Variant Variant::Null() {
    Variant result;
    result.FValue = NullTag{};
    return result;
}

Variant::Variant(bool Value) : FValue(Value) {}
Variant::Variant(int Value) : FValue(static_cast<std::int64_t>(Value)) {}
Variant::Variant(std::int64_t Value) : FValue(Value) {}
Variant::Variant(std::string Value) : FValue(std::move(Value)) {}
Variant::Variant(const char* Value) : FValue(std::string(Value ? Value : "")) {}

// An automation call answering "no object" hands back Nothing, which callers
// test as Null; keeping it so means IsObject() always has something to call.
Variant::Variant(DispatchPtr Value) {
    if (Value)
        FValue = std::move(Value);
    else
        FValue = NullTag{};
}

Variant::Type Variant::GetType() const {
    switch (FValue.index()) {
    case 0:
        return Type::Empty;
    case 1:
        return Type::Null;
    case 2:
        return Type::Boolean;
    case 3:
        return Type::Integer;
    case 4:
        return Type::Text;
    default:
        return Type::Object;
    }
}

std::string Variant::ToText() const {
    // An object's default value may itself be an object (a location inside
    // some wrapper); follow a few steps, but never loop on a cycle.
    Variant current = *this;
    for (int depth = 0; depth < 8; ++depth) {
        switch (current.GetType()) {
        case Type::Empty:
        case Type::Null:
            return "";
        case Type::Boolean:
            return std::get<bool>(current.FValue) ? "True" : "False";
        case Type::Integer:
            return std::to_string(std::get<std::int64_t>(current.FValue));
        case Type::Text:
            return std::get<std::string>(current.FValue);
        case Type::Object:
            current = std::get<DispatchPtr>(current.FValue)->DefaultValue();
            break;
        }
    }
    throw DispatchError("Cannot convert object '" + ToObject()->ClassName() +
                        "' to text: its default value does not end in plain data");
}

std::int64_t Variant::ToInteger() const {
    switch (GetType()) {
    case Type::Empty:
        return 0;
    case Type::Boolean:
        return std::get<bool>(FValue) ? 1 : 0;
    case Type::Integer:
        return std::get<std::int64_t>(FValue);
    case Type::Text: {
        std::int64_t result = 0;
        if (ParseDecimal(std::get<std::string>(FValue), result))
            return result;
        break;
    }
    case Type::Null:
    case Type::Object:
        break;
    }
    ThrowNotConvertible(*this, "an integer");
}

bool Variant::ToBoolean() const {
    switch (GetType()) {
    case Type::Empty:
        return false;
    case Type::Boolean:
        return std::get<bool>(FValue);
    case Type::Integer:
        return std::get<std::int64_t>(FValue) != 0;
    case Type::Text: {
        const std::string_view text = TrimBlanks(std::get<std::string>(FValue));
        if (EqualsNoCase(text, "true"))
            return true;
        if (EqualsNoCase(text, "false"))
            return false;
        std::int64_t number = 0;
        if (ParseDecimal(text, number))
            return number != 0;
        break;
    }
    case Type::Null:
    case Type::Object:
        break;
    }
    ThrowNotConvertible(*this, "a Boolean");
}

DispatchPtr Variant::ToObject() const {
    if (GetType() != Type::Object)
        ThrowNotConvertible(*this, "an object");
    return std::get<DispatchPtr>(FValue);
}

Variant Variant::Get(std::string_view Name) const {
    if (!IsObject())
        ThrowNotAnObject("read", Name, GetType());
    return std::get<DispatchPtr>(FValue)->Get(Name);
}

Variant Variant::Call(std::string_view Name, const std::vector<Variant>& Args) const {
    if (!IsObject())
        ThrowNotAnObject("call", Name, GetType());
    return std::get<DispatchPtr>(FValue)->Call(Name, Args);
}

void Variant::Put(std::string_view Name, const Variant& Value) const {
    if (!IsObject())
        ThrowNotAnObject("write", Name, GetType());
    std::get<DispatchPtr>(FValue)->Put(Name, Value);
}

// Objects compare by identity (shared_ptr equality), everything else by value;
// an Integer never equals a Text of the same digits.
bool Variant::operator==(const Variant& Other) const {
    return FValue == Other.FValue;
}

Variant IDispatchObject::DefaultValue() {
    throw DispatchError("Object '" + ClassName() + "' has no default value");
}

} // namespace larkspool
