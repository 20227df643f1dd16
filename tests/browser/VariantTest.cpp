#include "browser/Variant.h"

#include "browser/MemoryObjects.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace larkspool;
using ::testing::HasSubstr;
using ::testing::ThrowsMessage;

namespace {

constexpr std::int64_t Min64 = INT64_MIN, Max64 = INT64_MAX;

// An object with the given default value, or with none when Default is Empty.
std::shared_ptr<MemoryObject> Object(const std::string& Class, const Variant& Default = Variant()) {
    auto object = std::make_shared<MemoryObject>(Class);
    if (!Default.IsEmpty())
        object->SetDefaultValue(Default);
    return object;
}

} // namespace

TEST(Variant, Conversions) {
    EXPECT_EQ(Variant().ToText() + Variant::Null().ToText(), "");
    EXPECT_EQ(Variant(Min64).ToText(), "-9223372036854775808");
    EXPECT_EQ(Variant(true).ToText() + Variant(false).ToText(), "TrueFalse");
    // An object reads as its default value, followed through an object-valued one.
    const auto location = Object("Location", "http://h/p.htm");
    EXPECT_EQ(Variant(Object("Wrapper", Variant(location))).ToText(), "http://h/p.htm");
    EXPECT_EQ(Variant(location).ToObject(), location);

    for (const char* text : {"-17", "  -17 ", "\t-017\r\n"})
        EXPECT_EQ(Variant(text).ToInteger(), -17) << text;
    EXPECT_EQ(Variant("+8").ToInteger(), 8);
    EXPECT_EQ(Variant("9223372036854775807").ToInteger(), Max64);
    EXPECT_EQ(Variant("-9223372036854775808").ToInteger(), Min64);
    EXPECT_EQ(Variant(true).ToInteger(), 1);
    EXPECT_EQ(Variant().ToInteger(), 0);

    for (const Variant& v : {Variant(true), Variant(-1), Variant(" TRUE "), Variant("2")})
        EXPECT_TRUE(v.ToBoolean()) << v.ToText();
    for (const Variant& v : {Variant(false), Variant(0), Variant(), Variant("false"), Variant("0")})
        EXPECT_FALSE(v.ToBoolean()) << v.ToText();
}

TEST(Variant, ConversionErrors) {
    for (const char* text : {"", "   ", "-", "12a", "1 2", "+-3", "0x10", "3.5", "1e3",
                             "9223372036854775808", "-9223372036854775809"})
        EXPECT_THROW((void)Variant(text).ToInteger(), DispatchError) << "'" << text << "'";
    EXPECT_THAT([] { (void)Variant("12a").ToInteger(); },
                ThrowsMessage<DispatchError>("Cannot convert the text '12a' to an integer"));
    for (const Variant& v : {Variant::Null(), Variant(Object("O", 3))})
        EXPECT_THROW((void)v.ToInteger(), DispatchError) << TypeName(v.GetType());
    for (const Variant& v : {Variant("yes"), Variant(""), Variant::Null(), Variant(Object("O"))})
        EXPECT_THROW((void)v.ToBoolean(), DispatchError) << TypeName(v.GetType());
    for (const Variant& v : {Variant(), Variant::Null(), Variant(1), Variant("x")})
        EXPECT_THROW((void)v.ToObject(), DispatchError) << TypeName(v.GetType());
    EXPECT_THAT([] { (void)Variant(3).ToObject(); },
                ThrowsMessage<DispatchError>(HasSubstr("a value of type Integer")));
    EXPECT_THAT([] { (void)Variant(Object("HTMLDocument")).ToText(); },
                ThrowsMessage<DispatchError>("Object 'HTMLDocument' has no default value"));
    // A cycle of default values ends in an error instead of looping.
    const auto a = Object("A");
    a->SetDefaultValue(Variant(Object("B", Variant(a))));
    EXPECT_THAT([&] { (void)Variant(a).ToText(); }, ThrowsMessage<DispatchError>(HasSubstr("'A'")));
    a->SetDefaultValue(0); // break the cycle so both are freed
}

TEST(Variant, AccessOnNoObjectNamesTheMember) {
    EXPECT_THAT([] { (void)Variant::Null().Get("document"); },
                ThrowsMessage<DispatchError>(
                    "Cannot read member 'document' of a value that is not an object (Null)"));
    EXPECT_THAT(
        [] { (void)Variant().Call("Item", {Variant(0)}); },
        ThrowsMessage<DispatchError>(HasSubstr("call member 'Item' of a value that is not")));
    EXPECT_THAT(
        [] { Variant("x").Put("href", "y"); },
        ThrowsMessage<DispatchError>(HasSubstr("write member 'href' of a value that is not")));
}

TEST(Variant, EqualityWeighsTypeAndObjectIdentity) {
    EXPECT_NE(Variant(), Variant::Null());
    EXPECT_NE(Variant(1), Variant(true));
    EXPECT_NE(Variant(1), Variant("1"));
    EXPECT_NE(Variant(""), Variant());
    const auto a = Object("O", "same");
    EXPECT_EQ(Variant(a), Variant(a));
    EXPECT_NE(Variant(a), Variant(Object("O", "same")));
    // No object is Null and no text is empty text, so neither is ever dereferenced.
    EXPECT_TRUE(Variant(DispatchPtr()).IsNull());
    EXPECT_EQ(Variant(static_cast<const char*>(nullptr)), Variant(""));
}
