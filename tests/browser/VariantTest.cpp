#include "browser/Variant.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <limits>

using namespace larkspool;
using ::testing::HasSubstr;

namespace {

// A minimal object written here, apart from the in-memory tree, so that the
// value conversions are checked against the interface alone.
class StubObject : public IDispatchObject {
public:
    explicit StubObject(std::string Name, Variant Default = Variant())
        : FName(std::move(Name)), FDefault(std::move(Default)) {}

    Variant Get(std::string_view Name) override {
        Log.push_back("get " + std::string(Name));
        return Variant("got " + std::string(Name));
    }
    Variant Call(std::string_view Name, const std::vector<Variant>& Args) override {
        Log.push_back("call " + std::string(Name) + " " + std::to_string(Args.size()));
        return Variant(static_cast<std::int64_t>(Args.size()));
    }
    void Put(std::string_view Name, const Variant& Value) override {
        Log.push_back("put " + std::string(Name) + "=" + Value.ToText());
    }
    Variant DefaultValue() override {
        if (FDefault.IsEmpty())
            return IDispatchObject::DefaultValue();
        return FDefault;
    }
    std::string ClassName() const override { return FName; }

    void SetDefault(Variant Value) { FDefault = std::move(Value); }

    std::vector<std::string> Log;

private:
    std::string FName;
    Variant FDefault;
};

template <typename F> std::string DispatchMessage(F Action) {
    try {
        Action();
    } catch (const DispatchError& e) {
        return e.what();
    }
    return "(no DispatchError)";
}

} // namespace

TEST(Variant, TypesOfTheConstructors) {
    EXPECT_EQ(Variant().GetType(), Variant::Type::Empty);
    EXPECT_EQ(Variant::Null().GetType(), Variant::Type::Null);
    EXPECT_EQ(Variant(true).GetType(), Variant::Type::Boolean);
    EXPECT_EQ(Variant(5).GetType(), Variant::Type::Integer);
    EXPECT_EQ(Variant(std::int64_t{5}).GetType(), Variant::Type::Integer);
    EXPECT_EQ(Variant("x").GetType(), Variant::Type::Text);
    EXPECT_EQ(Variant(std::string("x")).GetType(), Variant::Type::Text);
    EXPECT_EQ(Variant(std::make_shared<StubObject>("O")).GetType(), Variant::Type::Object);
    // No object is Null, so IsObject() always has something to call.
    EXPECT_TRUE(Variant(DispatchPtr()).IsNull());
    EXPECT_EQ(Variant(static_cast<const char*>(nullptr)), Variant(""));
}

TEST(Variant, ToText) {
    EXPECT_EQ(Variant().ToText(), "");
    EXPECT_EQ(Variant::Null().ToText(), "");
    EXPECT_EQ(Variant(0).ToText(), "0");
    EXPECT_EQ(Variant(-42).ToText(), "-42");
    EXPECT_EQ(Variant(std::numeric_limits<std::int64_t>::min()).ToText(), "-9223372036854775808");
    EXPECT_EQ(Variant(true).ToText(), "True");
    EXPECT_EQ(Variant(false).ToText(), "False");
    EXPECT_EQ(Variant("  as is ").ToText(), "  as is ");
}

TEST(Variant, ObjectTextIsItsDefaultValue) {
    auto location = std::make_shared<StubObject>("Location", Variant("http://h/p.htm"));
    EXPECT_EQ(Variant(location).ToText(), "http://h/p.htm");
    auto number = std::make_shared<StubObject>("Counter", Variant(7));
    EXPECT_EQ(Variant(number).ToText(), "7");
    // A default value that is an object is followed to its own default value.
    auto wrapper = std::make_shared<StubObject>("Wrapper", Variant(location));
    EXPECT_EQ(Variant(wrapper).ToText(), "http://h/p.htm");
}

TEST(Variant, ObjectWithoutDefaultValueIsAnError) {
    auto document = std::make_shared<StubObject>("HTMLDocument");
    EXPECT_EQ(DispatchMessage([&] { (void)document->DefaultValue(); }),
              "Object 'HTMLDocument' has no default value");
    EXPECT_EQ(DispatchMessage([&] { (void)Variant(document).ToText(); }),
              "Object 'HTMLDocument' has no default value");
}

TEST(Variant, DefaultValueCycleEndsInAnError) {
    auto a = std::make_shared<StubObject>("A");
    auto b = std::make_shared<StubObject>("B", Variant(a));
    a->SetDefault(Variant(b));
    EXPECT_THAT(DispatchMessage([&] { (void)Variant(a).ToText(); }), HasSubstr("'A'"));
    a->SetDefault(Variant()); // break the cycle so both are freed
}

TEST(Variant, ToIntegerFromNumbersBooleansAndEmpty) {
    EXPECT_EQ(Variant(12).ToInteger(), 12);
    EXPECT_EQ(Variant(std::numeric_limits<std::int64_t>::max()).ToInteger(),
              std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ(Variant(true).ToInteger(), 1);
    EXPECT_EQ(Variant(false).ToInteger(), 0);
    EXPECT_EQ(Variant().ToInteger(), 0);
}

TEST(Variant, ToIntegerFromText) {
    EXPECT_EQ(Variant("17").ToInteger(), 17);
    EXPECT_EQ(Variant("  -17 ").ToInteger(), -17);
    EXPECT_EQ(Variant("\t+8\r\n").ToInteger(), 8);
    EXPECT_EQ(Variant("007").ToInteger(), 7);
    EXPECT_EQ(Variant("-0").ToInteger(), 0);
    EXPECT_EQ(Variant("9223372036854775807").ToInteger(), std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ(Variant("-9223372036854775808").ToInteger(),
              std::numeric_limits<std::int64_t>::min());
}

TEST(Variant, ToIntegerRefusesWhatIsNoNumber) {
    for (const char* text :
         {"", "   ", "-", "+", "12a", "a12", "1 2", "+-3", "--3", "0x10", "3.5", "1e3",
          "9223372036854775808", "-9223372036854775809", "99999999999999999999999"})
        EXPECT_THROW((void)Variant(text).ToInteger(), DispatchError) << "'" << text << "'";
    EXPECT_THAT(DispatchMessage([] { (void)Variant("12a").ToInteger(); }), HasSubstr("'12a'"));
    EXPECT_THAT(DispatchMessage([] { (void)Variant::Null().ToInteger(); }), HasSubstr("Null"));
    EXPECT_THROW((void)Variant(std::make_shared<StubObject>("O", Variant(3))).ToInteger(),
                 DispatchError);
}

TEST(Variant, ToBoolean) {
    EXPECT_TRUE(Variant(true).ToBoolean());
    EXPECT_FALSE(Variant(false).ToBoolean());
    EXPECT_TRUE(Variant(-1).ToBoolean());
    EXPECT_FALSE(Variant(0).ToBoolean());
    EXPECT_FALSE(Variant().ToBoolean());
    EXPECT_TRUE(Variant(" TRUE ").ToBoolean());
    EXPECT_FALSE(Variant("false").ToBoolean());
    EXPECT_TRUE(Variant("2").ToBoolean());
    EXPECT_FALSE(Variant("0").ToBoolean());
    EXPECT_THROW((void)Variant("yes").ToBoolean(), DispatchError);
    EXPECT_THROW((void)Variant("").ToBoolean(), DispatchError);
    EXPECT_THROW((void)Variant::Null().ToBoolean(), DispatchError);
    EXPECT_THROW((void)Variant(std::make_shared<StubObject>("O")).ToBoolean(), DispatchError);
}

TEST(Variant, ToObject) {
    auto object = std::make_shared<StubObject>("O");
    EXPECT_EQ(Variant(object).ToObject(), object);
    for (const Variant& v : {Variant(), Variant::Null(), Variant(1), Variant("x"), Variant(true)})
        EXPECT_THROW((void)v.ToObject(), DispatchError) << v.ToText();
    EXPECT_THAT(DispatchMessage([] { (void)Variant(3).ToObject(); }), HasSubstr("Integer"));
}

TEST(Variant, AccessForwardsToTheObject) {
    auto object = std::make_shared<StubObject>("O");
    const Variant v(object);
    EXPECT_EQ(v.Get("Title"), Variant("got Title"));
    EXPECT_EQ(v.Call("Item", {Variant(1), Variant(0)}), Variant(2));
    v.Put("href", "http://h/");
    EXPECT_EQ(object->Log,
              (std::vector<std::string>{"get Title", "call Item 2", "put href=http://h/"}));
}

TEST(Variant, AccessOnNoObjectNamesTheMember) {
    EXPECT_EQ(DispatchMessage([] { (void)Variant::Null().Get("document"); }),
              "Cannot read member 'document' of a value that is not an object (Null)");
    EXPECT_EQ(DispatchMessage([] { (void)Variant().Call("Item", {Variant(0)}); }),
              "Cannot call member 'Item' of a value that is not an object (Empty)");
    EXPECT_EQ(DispatchMessage([] { Variant("x").Put("href", "y"); }),
              "Cannot write member 'href' of a value that is not an object (Text)");
}

TEST(Variant, EqualityComparesTypeAndValue) {
    EXPECT_EQ(Variant(), Variant());
    EXPECT_EQ(Variant::Null(), Variant::Null());
    EXPECT_NE(Variant(), Variant::Null());
    EXPECT_EQ(Variant(3), Variant(std::int64_t{3}));
    EXPECT_NE(Variant(3), Variant(4));
    EXPECT_NE(Variant(1), Variant(true));
    EXPECT_NE(Variant(1), Variant("1"));
    EXPECT_NE(Variant(0), Variant());
    EXPECT_NE(Variant(""), Variant());
    EXPECT_EQ(Variant("a"), Variant(std::string("a")));
    EXPECT_NE(Variant("a"), Variant("A"));
}

TEST(Variant, ObjectsCompareByIdentity) {
    auto a = std::make_shared<StubObject>("O", Variant("same"));
    auto b = std::make_shared<StubObject>("O", Variant("same"));
    EXPECT_EQ(Variant(a), Variant(a));
    EXPECT_NE(Variant(a), Variant(b));
    EXPECT_NE(Variant(a), Variant("same"));
}

TEST(Variant, TypeNames) {
    EXPECT_STREQ(TypeName(Variant::Type::Empty), "Empty");
    EXPECT_STREQ(TypeName(Variant::Type::Object), "Object");
}
