// Answering reads from a snapshot of the page: the live page is an in-memory
// window whose every call is counted, the snapshot a JSON text as the page
// side writes it. Where the two differ on purpose, the answer shows which
// one was asked.

#include "browser/PageSnapshot.h"

#include "browser/LinkCollection.h"
#include "browser/MemoryObjects.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <map>

using namespace larkspool;
using nlohmann::json;

namespace {

// Forwards to an object of the live page and counts every call, of the
// objects it hands out too.
class Counted : public IDispatchObject {
public:
    Counted(DispatchPtr Inner, int& Calls) : FInner(std::move(Inner)), FCalls(Calls) {}

    Variant Get(std::string_view Name) override {
        ++FCalls;
        return Wrap(FInner->Get(Name));
    }
    Variant Call(std::string_view Name, const std::vector<Variant>& Args) override {
        ++FCalls;
        return Wrap(FInner->Call(Name, Args));
    }
    void Put(std::string_view Name, const Variant& Value) override {
        ++FCalls;
        FInner->Put(Name, Value);
    }
    Variant DefaultValue() override {
        ++FCalls;
        return Wrap(FInner->DefaultValue());
    }
    std::string ClassName() const override { return FInner->ClassName(); }

    const DispatchPtr& Inner() const { return FInner; }

private:
    Variant Wrap(const Variant& Value) {
        if (!Value.IsObject())
            return Value;
        return Variant(DispatchPtr(std::make_shared<Counted>(Value.ToObject(), FCalls)));
    }

    DispatchPtr FInner;
    int& FCalls;
};

MemoryPage LivePage() {
    MemoryPage page;
    page.Url = "http://site.test/index.html";
    page.Title = "Live title";
    page.Selection = "Live";
    page.Links = {{"http://site.test/live.htm", "Live"}};
    page.Html = "<html>live</html>";
    MemoryPage left;
    left.Url = "http://site.test/left.htm";
    left.Title = "Left live";
    MemoryPage gone;
    gone.Url = "http://other.test/gone.htm";
    gone.Unreadable = true;
    page.Frames = {left, gone};
    return page;
}

// The text the page side writes for objects described as {"c": CLASS,
// "g": {NAME: V}, "k": {NAME: {"I,J": V}}}, with {"o": N} for object N.
std::string Written(const json& Objects) {
    json names = json::array();
    std::map<std::string, std::size_t> ids;
    const auto name = [&](const std::string& Name) {
        const auto [at, added] = ids.emplace(Name, names.size());
        if (added)
            names.push_back(Name);
        return at->second;
    };
    const auto value = [](const json& V) {
        return V.is_object() && V.contains("o") ? json::array({V["o"]}) : V;
    };
    json objects = json::array();
    for (const json& object : Objects) {
        json gets = json::array();
        for (const auto& [n, v] : object["g"].items()) {
            gets.push_back(name(n));
            gets.push_back(value(v));
        }
        json calls = json::array();
        for (const auto& [n, answers] : object["k"].items()) {
            for (const auto& [key, v] : answers.items()) {
                json args = json::array();
                for (std::size_t at = 0; at < key.size();) {
                    const std::size_t comma = std::min(key.find(',', at), key.size());
                    args.push_back(std::stoll(key.substr(at, comma - at)));
                    at = comma + 1;
                }
                calls.push_back(name(n));
                calls.push_back(args);
                calls.push_back(value(v));
            }
        }
        objects.push_back({name(object["c"]), gets, calls});
    }
    return json{{"v", 2}, {"names", names}, {"objects", objects}, {"ms", 1.5}}.dump();
}

// The snapshot of the top window: object 0 the window, 1 its document, 2 the
// links (read as Links and as links), 3 and 4 the links, 5 the location, 6
// the frames.
json TopSnapshot() {
    json objects = json::array();
    objects.push_back({{"c", "Window"},
                       {"g",
                        {{"document", {{"o", 1}}},
                         {"parent", {{"o", 0}}},
                         {"frames", {{"o", 6}}},
                         {"location", {{"o", 5}}}}},
                       {"k", json::object()}});
    objects.push_back({{"c", "HTMLDocument"},
                       {"g",
                        {{"Url", "http://site.test/index.html"},
                         {"Title", "Snapshot title"},
                         {"Links", {{"o", 2}}},
                         {"links", {{"o", 2}}},
                         {"location", {{"o", 5}}},
                         {"characterSet", {{"u", 1}}},
                         {"compatMode", {{"n", "NaN"}}},
                         {"selection", {{"e", "denied"}, {"t", ""}}}}},
                       {"k", json::object()}});
    objects.push_back({{"c", "HTMLCollection"},
                       {"g", {{"Length", 2}}},
                       {"k", {{"Item", {{"0", {{"o", 3}}}, {"1", {{"o", 4}}}}}}}});
    objects.push_back({{"c", "HTMLAnchorElement"},
                       {"g", {{"href", "http://site.test/a.htm"}, {"innerText", " First "}}},
                       {"k", json::object()}});
    objects.push_back({{"c", "HTMLAnchorElement"},
                       {"g", {{"href", "mailto:me@site.test"}, {"innerText", "Mail"}}},
                       {"k", json::object()}});
    objects.push_back({{"c", "Location"},
                       {"g", {{"href", "http://site.test/index.html#snap"}}},
                       {"k", json::object()}});
    objects.push_back({{"c", "FramesCollection"},
                       {"g", {{"Length", 2}}},
                       {"k", {{"Item", {{"0", {{"w", 1}}}, {"1", {{"w", 1}}}}}}}});
    return objects;
}

json FrameSnapshot(const std::string& Title) {
    json objects = json::array();
    objects.push_back({{"c", "Window"}, {"g", {{"document", {{"o", 1}}}}}, {"k", json::object()}});
    objects.push_back({{"c", "HTMLDocument"}, {"g", {{"Title", Title}}}, {"k", json::object()}});
    return objects;
}

class PageSnapshot : public ::testing::Test {
protected:
    // The top window gets TopSnapshot; a frame whose document reads as
    // "Left live" gets a snapshot titled "Left snapshot"; any other window
    // none, as a frame the page side cannot reach.
    Variant Window() {
        Live = std::make_shared<Counted>(MakeMemoryWindow(LivePage()), Calls);
        return SnapshotWindow(Variant(DispatchPtr(Live)), [this](const DispatchPtr& W) {
            ++Taken;
            const auto* counted = dynamic_cast<Counted*>(W.get());
            if (counted == nullptr)
                return std::optional<std::string>();
            if (counted == Live.get())
                return std::optional<std::string>(Written(TopSnapshot()));
            Variant inner(counted->Inner());
            try {
                if (inner.Get("document").Get("Title").ToText() == "Left live")
                    return std::optional<std::string>(Written(FrameSnapshot("Left snapshot")));
            } catch (const DispatchError&) {
            }
            return std::optional<std::string>();
        });
    }

    int Calls = 0;
    int Taken = 0;
    std::shared_ptr<Counted> Live;
};

std::string ErrorOf(const std::function<void()>& Action) {
    try {
        Action();
    } catch (const DispatchError& e) {
        return e.what();
    }
    return "(no error)";
}

TEST_F(PageSnapshot, ReadsAreAnsweredFromTheSnapshotWithoutCallingThePage) {
    const Variant w = Window();
    EXPECT_EQ(Taken, 0); // not before the first read

    PageLinks page;
    ReadPageAddressAndTitle(w, page);
    EXPECT_EQ(Taken, 1);
    EXPECT_EQ(page.Title, "Snapshot title");
    EXPECT_EQ(w.Get("document").Get("Links").Get("Length").ToInteger(), 2);
    const Variant first = w.Get("document").Get("Links").Call("Item", {Variant(0)});
    EXPECT_EQ(first.ToObject()->ClassName(), "HTMLAnchorElement");
    EXPECT_EQ(first.Get("href").ToText(), "http://site.test/a.htm");
    EXPECT_EQ(first.Get("innerText").ToText(), " First ");
    // One object however it was reached.
    EXPECT_EQ(w.Get("document").Get("links"), w.Get("document").Get("Links"));
    EXPECT_EQ(w.Get("parent"), w);
    EXPECT_EQ(w.Get("parent").Get("frames").Get("Length").ToInteger(), 2);
    EXPECT_EQ(w.Get("frames").ToObject()->ClassName(), "FramesCollection");
    // A location's default value is its address, from the snapshot too.
    EXPECT_EQ(w.Get("document").Get("location").ToText(), "http://site.test/index.html#snap");
    // Undefined, a number kept as text.
    EXPECT_TRUE(w.Get("document").Get("characterSet").IsEmpty());
    EXPECT_EQ(w.Get("document").Get("compatMode").ToText(), "NaN");
    EXPECT_EQ(Calls, 0);
    EXPECT_EQ(Taken, 1);
}

TEST_F(PageSnapshot, FailuresKeptInTheSnapshotReadAsThePageWouldSayThem) {
    const Variant w = Window();
    EXPECT_EQ(ErrorOf([&] { (void)w.Get("document").Get("selection"); }),
              "Member 'selection' of object 'HTMLDocument': Access is denied (the frame's page "
              "comes from another origin)");
    EXPECT_EQ(Calls, 0);
}

TEST_F(PageSnapshot, WhatTheSnapshotLacksGoesToThePage) {
    const Variant w = Window();
    const Variant document = w.Get("document");
    // Another spelling is another member to the page: asked there.
    EXPECT_EQ(document.Get("title").ToText(), "Live title");
    EXPECT_EQ(Calls, 2); // document, then its title
    // A call whose arguments are no integers, and an index not kept.
    const Variant links = document.Get("Links");
    EXPECT_EQ(Calls, 2);
    EXPECT_EQ(ErrorOf([&] { (void)links.Call("Item", {Variant(5)}); }),
              "Member 'Item' of object 'HTMLCollection': index 5 is out of range (0 to 0)");
    EXPECT_EQ(Calls, 4); // the links, then the item
    // A text is no index of the snapshot, whatever it reads as.
    EXPECT_EQ(ErrorOf([&] { (void)links.Call("Item", {Variant("0")}); }),
              "Member 'Item' of object 'HTMLCollection': argument 1 must be an integer, not Text");
    EXPECT_EQ(Calls, 5);
    // A member the page does not have fails as the page says.
    EXPECT_EQ(ErrorOf([&] { (void)document.Get("NoSuchThing"); }),
              "Object 'HTMLDocument' has no member 'NoSuchThing'");
}

TEST_F(PageSnapshot, WritesGoToTheObjectOfThePageReachedTheSameWay) {
    const Variant w = Window();
    const Variant location = w.Get("document").Get("location");
    EXPECT_EQ(Calls, 0);
    location.Put("href", Variant("http://site.test/file.zip"));
    const auto* counted = dynamic_cast<Counted*>(LiveObjectOf(location.ToObject()).get());
    ASSERT_NE(counted, nullptr);
    const auto written = AsMemoryObject(Variant(counted->Inner()));
    ASSERT_NE(written, nullptr);
    ASSERT_EQ(written->Writes().size(), 1u);
    EXPECT_EQ(written->Writes()[0].first, "href");
    EXPECT_EQ(written->Writes()[0].second.ToText(), "http://site.test/file.zip");
    // The snapshot keeps the page as it was read.
    EXPECT_EQ(location.Get("href").ToText(), "http://site.test/index.html#snap");
}

TEST_F(PageSnapshot, FramesAreAskedForOnceAndReadFromTheirOwnSnapshots) {
    const Variant w = Window();
    const Variant frames = w.Get("parent").Get("frames");
    const Variant left = frames.Call("Item", {Variant(0)});
    EXPECT_EQ(Calls, 2); // the frames and the frame's window, asked of the page
    EXPECT_EQ(left.Get("document").Get("Title").ToText(), "Left snapshot");
    EXPECT_EQ(frames.Call("Item", {Variant(0)}), left);
    const int afterLeft = Calls;
    EXPECT_EQ(Taken, 2);
    // A frame without a snapshot of its own reads from the page: its
    // document is refused, its location still tells where it is.
    const Variant gone = frames.Call("Item", {Variant(1)});
    EXPECT_EQ(gone.Get("location").ToText(), "http://other.test/gone.htm");
    EXPECT_NE(ErrorOf([&] { (void)gone.Get("document"); }), "(no error)");
    EXPECT_GT(Calls, afterLeft + 1);
    EXPECT_EQ(Taken, 3);
}

TEST_F(PageSnapshot, RetakeReadsThePageAgain) {
    const Variant w = Window();
    EXPECT_EQ(w.Get("document").Get("Title").ToText(), "Snapshot title");
    RetakeSnapshot(w.ToObject());
    EXPECT_EQ(w.Get("document").Get("Title").ToText(), "Snapshot title");
    EXPECT_EQ(Taken, 2);
}

TEST(PageSnapshotTaking, APageSideWithoutSnapshotsLeavesEveryReadToThePage) {
    int calls = 0;
    const auto live = std::make_shared<Counted>(MakeMemoryWindow(LivePage()), calls);
    // The objects of the page side before this form, and forms broken.
    const std::string older = json{{"objects", TopSnapshot()}}.dump();
    json outOfRange = json::parse(Written(TopSnapshot()));
    outOfRange["objects"][0][0] = 99; // a class past the names
    for (const std::optional<std::string>& text :
         {std::optional<std::string>(), std::optional<std::string>("not json"),
          std::optional<std::string>("{\"v\": 2, \"names\": [], \"objects\": []}"),
          std::optional<std::string>(older), std::optional<std::string>(outOfRange.dump())}) {
        SCOPED_TRACE(text.value_or("(none)"));
        calls = 0;
        const Variant w =
            SnapshotWindow(Variant(DispatchPtr(live)), [&](const DispatchPtr&) { return text; });
        const PageLinks page = CollectPageLinks(w);
        EXPECT_EQ(page.Title, "Live title");
        ASSERT_EQ(page.Rows.size(), 1u);
        EXPECT_TRUE(page.Rows[0].Checked);
        EXPECT_GT(calls, 5);
    }
    // The bridges' own taker asks only objects of a live page.
    EXPECT_FALSE(TakeLiveSnapshot(MakeMemoryWindow(LivePage())).has_value());
}

} // namespace
