#pragma once

// Values of late-bound calls on the browser's objects, and the object
// interface itself.
//
// Every member of the browser's document model is reached by name at call
// time, looked up without regard to letter case, as the browser's automation
// interface did: a read (property get, or a method called without arguments),
// a call with arguments, or a write. The interface is transport-neutral: an
// in-memory tree for tests, the browser extension and headless Chromium all
// implement it.

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

namespace larkspool {

class IDispatchObject;
using DispatchPtr = std::shared_ptr<IDispatchObject>;

// A failed late-bound call: a member the object does not offer, a failing
// call, or a value of the wrong kind. The message names the member.
class DispatchError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class Variant {
public:
    enum class Type { Empty, Null, Boolean, Integer, Text, Object };

    Variant() = default; // Empty
    static Variant Null();
    Variant(bool Value);
    Variant(int Value);
    Variant(std::int64_t Value);
    Variant(std::string Value);
    Variant(const char* Value);
    Variant(DispatchPtr Value); // a null pointer gives Null
    // Any concrete object, without first spelling out the DispatchPtr.
    template <typename T>
    requires std::is_convertible_v<T*, IDispatchObject*> Variant(std::shared_ptr<T> Value)
        : Variant(DispatchPtr(std::move(Value))) {}

    Type GetType() const;
    bool IsEmpty() const { return GetType() == Type::Empty; }
    bool IsNull() const { return GetType() == Type::Null; }
    bool IsObject() const { return GetType() == Type::Object; }

    // Conversions as late-bound callers read values: Empty and Null give an
    // empty text, a number its decimal digits, a Boolean "True" or "False", an
    // object its default value (a location gives its address).
    std::string ToText() const;
    // Integers as they are; texts holding a decimal number are converted;
    // Booleans give 1 or 0; Empty gives 0. Anything else is a DispatchError.
    std::int64_t ToInteger() const;
    bool ToBoolean() const;
    // The object held; a DispatchError when the value is no object.
    DispatchPtr ToObject() const;

    // Late-bound access on the object held. On a value that is no object they
    // raise a DispatchError naming the member, so a broken chain says where.
    Variant Get(std::string_view Name) const;
    Variant Call(std::string_view Name, const std::vector<Variant>& Args) const;
    void Put(std::string_view Name, const Variant& Value) const;

    bool operator==(const Variant& Other) const;

private:
    struct NullTag {
        bool operator==(const NullTag&) const = default;
    };
    std::variant<std::monostate, NullTag, bool, std::int64_t, std::string, DispatchPtr> FValue;
};

// "Empty", "Null", "Boolean", "Integer", "Text" or "Object", for messages.
const char* TypeName(Variant::Type T);

class IDispatchObject {
public:
    virtual ~IDispatchObject() = default;

    // Reads a member: a property, or a method called without arguments.
    virtual Variant Get(std::string_view Name) = 0;
    // Calls a method (or an indexed property such as a collection's Item).
    virtual Variant Call(std::string_view Name, const std::vector<Variant>& Args) = 0;
    // Writes a property.
    virtual void Put(std::string_view Name, const Variant& Value) = 0;
    // The value of the object read as plain data (a location's address).
    // Objects without one raise a DispatchError.
    virtual Variant DefaultValue();
    // The object's class name, for messages ("HTMLDocument", "Window").
    virtual std::string ClassName() const = 0;
};

} // namespace larkspool
