// The codec of the extension's late-bound calls: every kind of value both
// ways, objects by handle, the messages, and the odd values a page can
// send (numbers a Variant has no room for, text that is not UTF-8).
#include "browser/ExtensionProtocol.h"
#include "browser/MemoryObjects.h"
#include "browser/NativeMessaging.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <limits>
#include <map>

using namespace larkspool;
using nlohmann::json;

namespace {

// Both ends of a handle table, as the page and the program see it.
struct HandleTable {
    std::map<std::int64_t, Variant> Objects;
    std::int64_t Next = 1;
    int HandedOut = 0;

    json Encode(const Variant& Value) {
        return EncodeValue(Value, [this](const DispatchPtr& Object) {
            ++HandedOut;
            Objects[Next] = Variant(Object);
            return Next++;
        });
    }
    Variant Decode(const json& Value) {
        return DecodeValue(Value, [this](std::int64_t Handle, const std::string& ClassName) {
            EXPECT_EQ(Objects.at(Handle).ToObject()->ClassName(), ClassName);
            return Objects.at(Handle);
        });
    }
};

// A message through the browser's framing and back.
json OverTheWire(const json& Message) {
    int fds[2];
    EXPECT_EQ(::pipe(fds), 0);
    WriteNativeMessage(fds[1], Message);
    ::close(fds[1]);
    std::optional<json> read = ReadNativeMessage(fds[0]);
    ::close(fds[0]);
    return read.value_or(json());
}

Variant NoObjects(std::int64_t, const std::string&) {
    ADD_FAILURE() << "no object was expected";
    return Variant();
}

Variant DecodePlain(const json& Value) {
    return DecodeValue(Value, NoObjects);
}

} // namespace

TEST(ExtensionProtocol, EveryKindOfValueRoundTrips) {
    HandleTable table;
    auto document = std::make_shared<MemoryObject>("HTMLDocument");
    const Variant values[] = {
        Variant(),
        Variant::Null(),
        Variant(true),
        Variant(false),
        Variant(0),
        Variant(-1),
        Variant(std::numeric_limits<std::int64_t>::min()),
        Variant(std::numeric_limits<std::int64_t>::max()),
        Variant(""),
        Variant("text with \"quotes\" and \\ and \n"),
        Variant("\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82 \xF0\x9F\x90\xA6"),
        Variant(std::string("nul\0inside", 10)),
        Variant(document)};
    for (const Variant& value : values) {
        SCOPED_TRACE(value.IsObject() ? "object" : value.ToText());
        const json sent = OverTheWire({{"value", table.Encode(value)}})["value"];
        const Variant back = table.Decode(sent);
        EXPECT_EQ(back.GetType(), value.GetType());
        EXPECT_TRUE(back == value);
    }
    // The object itself came back, by its handle.
    EXPECT_EQ(table.HandedOut, 1);
    EXPECT_EQ(table.Decode(table.Encode(Variant(document))).ToObject(), document);
}

TEST(ExtensionProtocol, ValuesAreWrittenAsTheProtocolSays) {
    const auto plain = [](const Variant& V) {
        return EncodeValue(V, [](const DispatchPtr&) -> std::int64_t {
            ADD_FAILURE() << "no object was expected";
            return 0;
        });
    };
    EXPECT_EQ(plain(Variant()), json::parse(R"({"type": "undefined"})"));
    EXPECT_EQ(plain(Variant::Null()), json::parse(R"({"type": "null"})"));
    EXPECT_EQ(plain(Variant(true)), json::parse(R"({"type": "boolean", "value": true})"));
    EXPECT_EQ(plain(Variant(12)), json::parse(R"({"type": "number", "value": 12})"));
    EXPECT_EQ(plain(Variant("text")), json::parse(R"({"type": "string", "value": "text"})"));
    const json object =
        EncodeValue(Variant(std::make_shared<MemoryObject>("HTMLCollection")),
                    [](const DispatchPtr& O) -> std::int64_t { return O ? 4 : -1; });
    EXPECT_EQ(object, json::parse(R"({"type": "object", "handle": 4, "class": "HTMLCollection"})"));
    // An object the connection has no handle for is refused as its owner says.
    EXPECT_THROW(EncodeValue(Variant(std::make_shared<MemoryObject>("Window")),
                             [](const DispatchPtr&) -> std::int64_t {
                                 throw DispatchError("an object of another page");
                             }),
                 DispatchError);
}

TEST(ExtensionProtocol, NumbersAVariantCannotHoldBecomeText) {
    const auto number = [](const char* Json) { return DecodePlain(json::parse(Json)); };
    EXPECT_EQ(number(R"({"type": "number", "value": null, "text": "NaN"})").ToText(), "NaN");
    EXPECT_EQ(number(R"({"type": "number", "value": null, "text": "-Infinity"})").ToText(),
              "-Infinity");
    EXPECT_EQ(number(R"({"type": "number", "value": 1.5})").ToText(), "1.5");
    EXPECT_EQ(number(R"({"type": "number", "value": 1e300})").ToText(), "1e+300");
    // Whole numbers in floating point are integers; -0 is 0.
    EXPECT_EQ(number(R"({"type": "number", "value": 3.0})"), Variant(3));
    EXPECT_EQ(number(R"({"type": "number", "value": -0.0})"), Variant(0));
    EXPECT_EQ(number(R"({"type": "number", "value": -9.223372036854775808e18})"),
              Variant(std::numeric_limits<std::int64_t>::min()));
    // Past 64 bits: the digits, not a wrapped-around integer.
    EXPECT_EQ(number(R"({"type": "number", "value": 9223372036854775808})"),
              Variant("9223372036854775808"));
    EXPECT_EQ(number(R"({"type": "number", "value": 18446744073709551615})"),
              Variant("18446744073709551615"));
    EXPECT_EQ(number(R"({"type": "number", "value": 9.3e18})"), Variant("9.3e+18"));
    EXPECT_EQ(number(R"({"type": "number"})"), Variant(""));
}

TEST(ExtensionProtocol, TextThatIsNotUtf8IsMendedOnTheWire) {
    const json sent = EncodeValue(Variant("a\xFF"
                                          "b\xC3"),
                                  [](const DispatchPtr&) { return std::int64_t{0}; });
    EXPECT_EQ(DecodePlain(OverTheWire(sent)).ToText(), "a\xEF\xBF\xBD"
                                                       "b\xEF\xBF\xBD");
}

TEST(ExtensionProtocol, UnreadableValuesAreUndefined) {
    for (const char* odd :
         {R"(null)", R"(12)", R"("text")", R"([])", R"({})", R"({"type": "symbol"})",
          R"({"type": 7, "value": 1})", R"({"type": "boolean", "value": "yes"})",
          R"({"type": "string", "value": 5})", R"({"type": "object"})",
          R"({"type": "object", "handle": "4"})",
          R"({"type": "object", "handle": 18446744073709551615})"}) {
        SCOPED_TRACE(odd);
        EXPECT_TRUE(DecodePlain(json::parse(odd)).IsEmpty());
    }
    // An object without its class is an Object.
    std::string seen;
    DecodeValue(json::parse(R"({"type": "object", "handle": 9})"),
                [&](std::int64_t Handle, const std::string& ClassName) {
                    EXPECT_EQ(Handle, 9);
                    seen = ClassName;
                    return Variant();
                });
    EXPECT_EQ(seen, "Object");
}

TEST(ExtensionProtocol, CallsRoundTrip) {
    const CallRequest call{7, "call", 4, "Item", json::array({{{"type", "number"}, {"value", 0}}})};
    const json message = CallMessage(call);
    EXPECT_EQ(message, json::parse(R"({"type": "call", "id": 7, "op": "call", "handle": 4,
        "name": "Item", "args": [{"type": "number", "value": 0}]})"));
    const std::optional<CallRequest> back = ReadCall(OverTheWire(message));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->Id, 7);
    EXPECT_EQ(back->Op, "call");
    EXPECT_EQ(back->Handle, 4);
    EXPECT_EQ(back->Name, "Item");
    EXPECT_EQ(back->Args, call.Args);
    // No arguments at all reads as none.
    EXPECT_EQ(ReadCall(json::parse(R"({"type": "call", "id": 1, "op": "get", "handle": 1,
        "name": "document"})"))
                  ->Args,
              json::array());

    for (const char* bad :
         {R"({"type": "reply", "id": 1, "op": "get", "handle": 1, "name": "x"})",
          R"({"type": "call", "op": "get", "handle": 1, "name": "x"})",
          R"({"type": "call", "id": "1", "op": "get", "handle": 1, "name": "x"})",
          R"({"type": "call", "id": 18446744073709551615, "op": "get", "handle": 1, "name": "x"})",
          R"({"type": "call", "id": 1, "handle": 1, "name": "x"})",
          R"({"type": "call", "id": 1, "op": "get", "name": "x"})",
          R"({"type": "call", "id": 1, "op": "get", "handle": 1})",
          R"({"type": "call", "id": 1, "op": "get", "handle": 1, "name": "x", "args": {}})",
          R"([1, 2])"}) {
        SCOPED_TRACE(bad);
        EXPECT_FALSE(ReadCall(json::parse(bad)));
    }
}

TEST(ExtensionProtocol, RepliesAndErrorsRoundTrip) {
    const json value = {{"type", "string"}, {"value", "x"}};
    const std::optional<CallReply> answered =
        ReadReply(OverTheWire(ReplyMessage({3, value, std::nullopt})));
    ASSERT_TRUE(answered);
    EXPECT_EQ(answered->Id, 3);
    EXPECT_EQ(answered->Value, value);
    EXPECT_FALSE(answered->Error);

    const json failed = ReplyMessage({8, json::object(), PageError{"readonly", ""}});
    EXPECT_EQ(
        failed,
        json::parse(R"({"type": "reply", "id": 8, "error": {"kind": "readonly", "text": ""}})"));
    const std::optional<CallReply> error = ReadReply(OverTheWire(failed));
    ASSERT_TRUE(error && error->Error);
    EXPECT_EQ(error->Id, 8);
    EXPECT_EQ(error->Error->Kind, "readonly");

    // A failure of unknown kind is "other"; a reply without a value is undefined.
    const auto odd = ReadReply(json::parse(R"({"type": "reply", "id": 2, "error": {"kind": 5,
        "text": "TypeError: x"}})"));
    ASSERT_TRUE(odd && odd->Error);
    EXPECT_EQ(odd->Error->Kind, "other");
    EXPECT_EQ(odd->Error->Text, "TypeError: x");
    const auto empty = ReadReply(json::parse(R"({"type": "reply", "id": 2})"));
    ASSERT_TRUE(empty);
    EXPECT_TRUE(DecodePlain(empty->Value).IsEmpty());

    EXPECT_FALSE(ReadReply(json::parse(R"({"type": "reply", "id": null})")));
    EXPECT_FALSE(ReadReply(json::parse(R"({"type": "call", "id": 1})")));
}

TEST(ExtensionProtocol, ReleasesRoundTrip) {
    const json message = ReleaseMessage({4, 1000000001});
    EXPECT_EQ(message, json::parse(R"({"type": "release", "handles": [4, 1000000001]})"));
    EXPECT_EQ(ReadRelease(OverTheWire(message)), (std::vector<std::int64_t>{4, 1000000001}));
    // Whatever is no handle is passed over.
    EXPECT_EQ(
        ReadRelease(json::parse(
            R"({"type": "release", "handles": [1, "2", 3.5, null, 18446744073709551615, 5]})")),
        (std::vector<std::int64_t>{1, 5}));
    EXPECT_TRUE(ReadRelease(json::parse(R"({"type": "release", "handles": 4})")).empty());
    EXPECT_TRUE(ReadRelease(json::parse(R"({"type": "call", "handles": [4]})")).empty());
}
