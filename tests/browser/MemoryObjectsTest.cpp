#include "browser/MemoryObjects.h"

#include "support/ErrorOf.h"
#include "support/TempFolder.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace larkspool;
using ::testing::AllOf;
using ::testing::HasSubstr;

namespace {

template <typename E = DispatchError, typename F> std::string ErrorOf(F Action) {
    return check::ErrorOf<E>(Action);
}

const std::string TopUrl = "http://example.test/site/index.htm";
const std::string LeftUrl = "http://example.test/site/left.htm";

// The same page as fixtures/frameset.json.
MemoryPage SamplePage() {
    MemoryPage top, left, right, gone;
    left.Url = LeftUrl;
    left.Title = "Left";
    left.Html = "<HTML><HEAD><LINK rel=stylesheet href=\"left.css\"></HEAD>"
                "<BODY><IMG src=\"pic.gif\"></BODY></HTML>";
    left.Images = {"http://example.test/site/pic.gif", "http://example.test/site/pic2.gif"};
    right.Url = "http://other.test/right.htm";
    right.Title = "Right";
    right.CrossOrigin = true;
    gone.Url = "http://gone.test/ad.htm";
    gone.Title = "Gone";
    gone.CrossOrigin = true;
    gone.Unreadable = true;
    top.Url = TopUrl;
    top.Title = "  Frameset page  ";
    top.Selection = "chosen words";
    top.CharacterSet = "windows-1252";
    top.Preamble = "<!DOCTYPE html>";
    top.Html = "<html><head><title>Frameset page</title></head><frameset cols=\"50%,50%\">"
               "<frame src=\"left.htm\"><frame src=\"http://other.test/right.htm\"></frameset>"
               "</html>";
    top.Links = {{"http://example.test/site/a.htm", "First"},
                 {"mailto:someone@example.test", "Mail"}};
    top.Images = {"http://example.test/site/logo.gif"};
    top.Frames = {left, right, gone};
    return top;
}

Variant Window(const MemoryPage& Page = SamplePage()) {
    return MakeMemoryWindow(Page);
}

// What a caller can learn of a window through Get and Call, so that two trees
// can be compared. All's markup also shows each link's and image's data.
std::string Describe(const Variant& Window, const std::string& Indent = "") {
    std::string out = Indent + Window.Get("location").ToText();
    try {
        const Variant d = Window.Get("document");
        out += " " + d.Get("URL").ToText() + "|" + d.Get("title").ToText() + "|" +
               d.Get("characterSet").ToText() + "|" +
               d.Get("selection").Get("createRange").Get("text").ToText();
        const Variant all = d.Get("all");
        for (std::int64_t i = 0; i < all.Get("length").ToInteger(); ++i)
            out += "\n" + Indent + all.Call("item", {Variant(i), 0}).Get("outerHTML").ToText();
    } catch (const DispatchError& e) {
        out += std::string(" refused: ") + e.what();
    }
    const Variant frames = Window.Get("frames");
    for (std::int64_t i = 0; i < frames.Get("length").ToInteger(); ++i)
        out += "\n" + Describe(frames.Call("item", {Variant(i)}), Indent + "  ");
    return out;
}

} // namespace

TEST(MemoryObject, MembersIgnoreAsciiCaseAndMisuseNamesTheMember) {
    MemoryObject o("HTMLDocument");
    o.SetProperty("URL", "http://a/", false);
    o.SetMethod("item", 1, 2, [](const std::vector<Variant>& Args) { return Args[0]; });
    EXPECT_EQ(o.Get("url"), Variant("http://a/"));
    EXPECT_EQ(o.Call("ITEM", {Variant(5)}), Variant(5));
    o.SetProperty("\xC3\x89t\xC3\xA9", 1); // a byte above 0x7F is no letter to fold
    EXPECT_FALSE(o.HasMember("\xC3\xA9t\xC3\xA9"));
    EXPECT_EQ(ErrorOf([&] { (void)o.Get("foo"); }), "Object 'HTMLDocument' has no member 'foo'");
    EXPECT_EQ(ErrorOf([&] { o.Put("Url", "x"); }),
              "Member 'Url' of object 'HTMLDocument' cannot be written");
    EXPECT_EQ(ErrorOf([&] { o.Put("Bar", 1); }), "Object 'HTMLDocument' has no member 'Bar'");
    EXPECT_EQ(o.Get("URL"), Variant("http://a/"));
    EXPECT_TRUE(o.Writes().empty());
}

TEST(MemoryWindow, MainPageChains) {
    const Variant w = Window();
    EXPECT_EQ(w.Get("Parent").Get("PARENT"), w); // the top window is its own parent
    const Variant d = w.Get("parent").Get("document");
    EXPECT_EQ(d.Get("URL").ToText(), TopUrl);
    EXPECT_EQ(d.Get("Title").ToText(), "  Frameset page  ");
    EXPECT_EQ(d.Get("location").ToText(), TopUrl);
    EXPECT_EQ(d.Get("selection").Get("createRange").Get("text").ToText(), "chosen words");
    const Variant links = d.Get("Links");
    ASSERT_EQ(links.Get("Length").ToInteger(), 2);
    EXPECT_EQ(links.Call("Item", {0}).Get("href").ToText(), "http://example.test/site/a.htm");
    EXPECT_EQ(links.Call("Item", {0}).Get("innerText").ToText(), "First");
    EXPECT_EQ(links.Call("item", {1}).Get("InnerText").ToText(), "Mail");
}

TEST(MemoryWindow, AllGivesTagNameAndOuterHtml) {
    const Variant all = Window().Get("document").Get("All");
    std::vector<std::string> tags;
    for (std::int64_t i = 0; i < all.Get("Length").ToInteger(); ++i)
        tags.push_back(all.Call("Item", {Variant(i), Variant(0)}).Get("tagName").ToText());
    EXPECT_EQ(tags, (std::vector<std::string>{"!", "HTML", "HEAD", "BODY", "A", "A", "IMG"}));
    EXPECT_EQ(all.Call("Item", {0, 0}).Get("outerHTML").ToText(), "<!DOCTYPE html>");
    EXPECT_EQ(all.Call("Item", {1, 0}).Get("outerHTML").ToText(), SamplePage().Html);
    EXPECT_EQ(all.Call("Item", {2, 0}).Get("outerHTML").ToText(),
              "<head><title>Frameset page</title></head>");
    EXPECT_EQ(all.Call("Item", {3, 0}).Get("outerHTML").ToText(), ""); // a frameset, no body
    // Without a preamble the root comes first.
    MemoryPage plain;
    plain.Html = "<html><body></body></html>";
    EXPECT_EQ(Window(plain).Get("document").Get("All").Call("Item", {0, 0}).Get("outerHTML"),
              Variant(plain.Html));
}

TEST(MemoryWindow, FrameChains) {
    const Variant w = Window();
    ASSERT_EQ(w.Get("parent").Get("frames").Get("Length").ToInteger(), 3);
    const Variant f = w.Get("parent").Get("frames").Call("Item", {0});
    const Variant d = f.Get("document");
    EXPECT_EQ(f.Get("location").ToText(), LeftUrl);
    EXPECT_EQ(d.Get("URL").ToText(), LeftUrl);
    EXPECT_EQ(d.Get("Title").ToText(), "Left");
    EXPECT_EQ(d.Get("Images").Call("Item", {1}).Get("src").ToText(),
              "http://example.test/site/pic2.gif");
    EXPECT_EQ(d.Get("All").Call("Item", {1, 0}).Get("outerHTML").ToText(),
              "<HEAD><LINK rel=stylesheet href=\"left.css\"></HEAD>");
    EXPECT_EQ(f.Get("parent"), w);
    // A nested frame's parent is its own frame, not the top.
    MemoryPage nested = SamplePage();
    nested.Frames[0].Frames = {MemoryPage{}};
    const Variant outer = Window(nested).Get("frames").Call("Item", {0});
    EXPECT_EQ(outer.Get("frames").Call("Item", {0}).Get("parent"), outer);
}

TEST(MemoryWindow, CrossOriginFrameReadsAsAnyFrame) {
    const Variant f = Window().Get("frames").Call("Item", {1});
    EXPECT_EQ(f.Get("location").ToText(), "http://other.test/right.htm");
    EXPECT_EQ(f.Get("Document").Get("Title").ToText(), "Right");
    EXPECT_EQ(f.Get("Document").Get("URL").ToText(), "http://other.test/right.htm");
}

TEST(MemoryWindow, UnreadableFrameRefusesItsDocumentButTellsItsAddress) {
    const Variant f = Window().Get("frames").Call("Item", {2});
    EXPECT_EQ(f.Get("location").ToText(), "http://gone.test/ad.htm");
    EXPECT_EQ(ErrorOf([&] { (void)f.Get("Document").Get("Title"); }),
              "Member 'Document' of object 'Window': Access is denied (the frame's page comes "
              "from another origin)");
    // The flag means nothing on the top page, which the browser always hands out.
    MemoryPage top = SamplePage();
    top.Unreadable = true;
    EXPECT_EQ(Window(top).Get("document").Get("Title").ToText(), "  Frameset page  ");
}

TEST(MemoryWindow, BadItemCallsNameTheMember) {
    const Variant d = Window().Get("document");
    const Variant links = d.Get("Links");
    EXPECT_EQ(ErrorOf([&] { (void)links.Call("Item", {2}); }),
              "Member 'Item' of object 'HTMLCollection': index 2 is out of range (0 to 1)");
    EXPECT_EQ(ErrorOf([&] { (void)links.Get("Item"); }),
              "Member 'Item' of object 'HTMLCollection' takes 1 argument, not 0");
    const std::vector<Variant> badArgs[] = {{-1}, {"0"}, {0, 0}};
    for (const std::vector<Variant>& args : badArgs)
        EXPECT_THAT(ErrorOf([&] { (void)links.Call("Item", args); }), HasSubstr("'Item'"));
}

TEST(MemoryWindow, NavigationWriteIsRecordedAndStructureIsReadOnly) {
    const Variant w = Window();
    w.Get("document").Get("location").Put("href", "http://example.test/file.zip");
    const auto location = AsMemoryObject(w.Get("location"));
    ASSERT_NE(location, nullptr);
    EXPECT_EQ(location->Writes(), (std::vector<std::pair<std::string, Variant>>{
                                      {"href", Variant("http://example.test/file.zip")}}));
    // One location for window and document; the document itself is unchanged.
    EXPECT_EQ(w.Get("location").ToText(), "http://example.test/file.zip");
    EXPECT_EQ(w.Get("document").Get("URL").ToText(), TopUrl);
    for (const char* name : {"document", "parent", "frames", "location"})
        EXPECT_THROW(w.Put(name, 1), DispatchError) << name;
}

TEST(MemoryWindowJson, FixtureFileEqualsTheBuiltWindow) {
    const std::string expected = Describe(Window());
    EXPECT_EQ(Describe(LoadMemoryWindow(LARKSPOOL_BROWSER_FIXTURES "/frameset.json")), expected);
    // The description covers what it should, so the comparison means something.
    EXPECT_THAT(expected, AllOf(HasSubstr("<img src=\"http://example.test/site/pic2.gif\">"),
                                HasSubstr("|chosen words"), HasSubstr("refused: ")));
}

TEST(MemoryWindowJson, BadFixturesAreRefusedSayingWhere) {
    const check::TempFolder folder{"larkspool-fixture"};
    const std::string path =
        folder.Write("broken_page.json", "{\"url\": \"http://h/\",\n \"title\": }");
    const std::string error = ErrorOf<std::runtime_error>([&] { LoadMemoryWindow(path); });
    EXPECT_THAT(error, AllOf(HasSubstr(path), HasSubstr("parse error"), HasSubstr("line 2")));
    EXPECT_THAT(ErrorOf<std::runtime_error>(
                    [] { MakeMemoryWindowFromJson(R"({"frames": [{"links": [{"href": 1}]}]})"); }),
                HasSubstr("frames[0].links[0].href: "));
    EXPECT_THAT(ErrorOf<std::runtime_error>([] { MakeMemoryWindowFromJson(R"({"tittle": ""})"); }),
                HasSubstr("unknown key 'tittle'"));
}
