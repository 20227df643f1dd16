#pragma once

// The messages of late-bound calls between the program and the extension
// (extension/protocol.md, section 3), both ways: the program's connection
// writes calls and reads replies; the tests' stand-in for the extension
// reads calls and writes replies. One codec, so the two cannot drift.
//
// Objects travel by handle in the page's table; the side that holds the
// table says how an object gets its handle and a handle its object.

#include "browser/Variant.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace larkspool {

// The handle an object goes by (may throw a DispatchError for an object
// that has none on this connection).
using HandleOfObject = std::function<std::int64_t(const DispatchPtr& Object)>;
// The object a handle of a class stands for.
using ObjectOfHandle = std::function<Variant(std::int64_t Handle, const std::string& ClassName)>;

// A Variant as a protocol VALUE ({"type": ..., ...}); an object is
// {"type": "object", "handle": HandleOf(object), "class": its class}.
nlohmann::json EncodeValue(const Variant& Value, const HandleOfObject& HandleOf);

// A protocol VALUE as a Variant. Numbers that are no integer a Variant can
// hold (fractions, NaN, Infinity, beyond 64 bits) become their text;
// anything unreadable is Empty, as JavaScript's undefined.
Variant DecodeValue(const nlohmann::json& Value, const ObjectOfHandle& ObjectOf);

// A late-bound call: Op is "get", "call" or "put".
struct CallRequest {
    std::int64_t Id = 0;
    std::string Op;
    std::int64_t Handle = 0;
    std::string Name;
    nlohmann::json Args = nlohmann::json::array(); // VALUEs
};

nlohmann::json CallMessage(const CallRequest& Call);
// The call a message holds; nullopt when it is no well-formed call.
std::optional<CallRequest> ReadCall(const nlohmann::json& Message);

// A failure in the page: Kind is "missing", "denied", "readonly", "args" or
// "other" (see PageFailure).
struct PageError {
    std::string Kind, Text;
};

// The answer to call Id: a VALUE or a failure.
struct CallReply {
    std::int64_t Id = 0;
    nlohmann::json Value = nlohmann::json::object();
    std::optional<PageError> Error;
};

nlohmann::json ReplyMessage(const CallReply& Reply);
// The reply a message holds; nullopt when it is no reply with an integer id.
std::optional<CallReply> ReadReply(const nlohmann::json& Message);

nlohmann::json ReleaseMessage(const std::vector<std::int64_t>& Handles);
// The handles a release message names (integers only).
std::vector<std::int64_t> ReadRelease(const nlohmann::json& Message);

} // namespace larkspool
