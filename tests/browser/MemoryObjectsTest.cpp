#include "browser/MemoryObjects.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

using namespace larkspool;
using ::testing::AllOf;
using ::testing::HasSubstr;

namespace {

template <typename F> std::string DispatchMessage(F Action) {
    try {
        Action();
    } catch (const DispatchError& e) {
        return e.what();
    }
    return "(no DispatchError)";
}

template <typename F> std::string RuntimeMessage(F Action) {
    try {
        Action();
    } catch (const DispatchError& e) {
        return std::string("(DispatchError) ") + e.what();
    } catch (const std::runtime_error& e) {
        return e.what();
    }
    return "(no error)";
}

MemoryPage SamplePage() {
    MemoryPage top;
    top.Url = "http://example.test/site/index.htm";
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

    MemoryPage left;
    left.Url = "http://example.test/site/left.htm";
    left.Title = "Left";
    left.Html = "<HTML><HEAD><LINK rel=stylesheet href=\"left.css\"></HEAD>"
                "<BODY><IMG src=\"pic.gif\"></BODY></HTML>";
    left.Images = {"http://example.test/site/pic.gif", "http://example.test/site/pic2.gif"};

    MemoryPage right;
    right.Url = "http://other.test/right.htm";
    right.Title = "Right";
    right.CrossOrigin = true;

    top.Frames = {left, right};
    return top;
}

// Everything a caller can learn about a window through Get and Call, as text,
// so that two trees can be compared.
std::string Describe(const Variant& Window, const std::string& Indent = "") {
    std::string out = Indent + "location=" + Window.Get("location").ToText() + "\n";
    try {
        const Variant d = Window.Get("document");
        out += Indent + "URL=" + d.Get("URL").ToText() + " title=" + d.Get("title").ToText() +
               " charset=" + d.Get("characterSet").ToText() +
               " selection=" + d.Get("selection").Get("createRange").Get("text").ToText() + "\n";
        const Variant links = d.Get("links");
        for (std::int64_t i = 0; i < links.Get("length").ToInteger(); ++i)
            out += Indent + "link " + links.Call("item", {Variant(i)}).Get("href").ToText() + " " +
                   links.Call("item", {Variant(i)}).Get("innerText").ToText() + "\n";
        const Variant images = d.Get("images");
        for (std::int64_t i = 0; i < images.Get("length").ToInteger(); ++i)
            out += Indent + "image " + images.Call("item", {Variant(i)}).Get("src").ToText() + "\n";
        const Variant all = d.Get("all");
        for (std::int64_t i = 0; i < all.Get("length").ToInteger(); ++i) {
            const Variant e = all.Call("item", {Variant(i), Variant(0)});
            out += Indent + "element " + e.Get("tagName").ToText() + " " +
                   e.Get("outerHTML").ToText() + "\n";
        }
    } catch (const DispatchError& e) {
        out += Indent + "document refused: " + e.what() + "\n";
    }
    const Variant frames = Window.Get("frames");
    for (std::int64_t i = 0; i < frames.Get("length").ToInteger(); ++i)
        out += Describe(frames.Call("item", {Variant(i)}), Indent + "  ");
    return out;
}

std::string FixturePath(const std::string& Name) {
    return std::string(LARKSPOOL_BROWSER_FIXTURES) + "/" + Name;
}

} // namespace

// --- The generic object ---------------------------------------------------------

TEST(MemoryObject, LookupIgnoresAsciiCase) {
    MemoryObject o("HTMLDocument");
    o.SetProperty("URL", "http://h/");
    o.SetMethod("item", 1, 1, [](const std::vector<Variant>& Args) { return Args[0]; });
    EXPECT_EQ(o.Get("Url"), Variant("http://h/"));
    EXPECT_EQ(o.Get("url"), Variant("http://h/"));
    EXPECT_EQ(o.Call("Item", {Variant(4)}), Variant(4));
    EXPECT_EQ(o.Call("ITEM", {Variant(5)}), Variant(5));
    EXPECT_TRUE(o.HasMember("uRl"));
    EXPECT_FALSE(o.HasMember("URLs"));
    // Only ASCII letters fold: a byte above 0x7F is not a letter to fold.
    o.SetProperty("\xC3\x89t\xC3\xA9", 1);
    EXPECT_FALSE(o.HasMember("\xC3\xA9t\xC3\xA9"));
}

TEST(MemoryObject, SettingAMemberInAnotherCaseReplacesIt) {
    MemoryObject o("O");
    o.SetProperty("Title", "old");
    o.SetProperty("TITLE", "new");
    EXPECT_EQ(o.Get("title"), Variant("new"));
}

TEST(MemoryObject, UnknownMemberNamesMemberAndClass) {
    MemoryObject o("HTMLDocument");
    EXPECT_EQ(DispatchMessage([&] { (void)o.Get("foo"); }),
              "Object 'HTMLDocument' has no member 'foo'");
    EXPECT_EQ(DispatchMessage([&] { (void)o.Call("Bar", {}); }),
              "Object 'HTMLDocument' has no member 'Bar'");
    EXPECT_EQ(DispatchMessage([&] { o.Put("baz", 1); }),
              "Object 'HTMLDocument' has no member 'baz'");
    EXPECT_TRUE(o.Writes().empty());
}

TEST(MemoryObject, ReadingAMethodCallsItWithoutArguments) {
    MemoryObject o("Selection");
    int calls = 0;
    o.SetMethod("createRange", 0, 0, [&](const std::vector<Variant>& Args) {
        ++calls;
        return Variant(static_cast<std::int64_t>(Args.size()));
    });
    EXPECT_EQ(o.Get("createrange"), Variant(0));
    EXPECT_EQ(o.Call("createRange", {}), Variant(0));
    EXPECT_EQ(calls, 2);
}

TEST(MemoryObject, WrongArgumentCountNamesTheMember) {
    MemoryObject o("HTMLCollection");
    o.SetMethod("item", 1, 2, [](const std::vector<Variant>&) { return Variant(); });
    EXPECT_EQ(DispatchMessage([&] { (void)o.Get("Item"); }),
              "Member 'Item' of object 'HTMLCollection' takes 1 to 2 arguments, not 0");
    EXPECT_EQ(DispatchMessage([&] {
                  (void)o.Call("item", {1, 2, 3});
              }),
              "Member 'item' of object 'HTMLCollection' takes 1 to 2 arguments, not 3");
    EXPECT_NO_THROW((void)o.Call("item", {1}));
    EXPECT_NO_THROW((void)o.Call("item", {1, 0}));
}

TEST(MemoryObject, ErrorsOfAMethodBodyNameTheMember) {
    MemoryObject o("O");
    o.SetMethod("fail", 0, 0,
                [](const std::vector<Variant>&) -> Variant { throw DispatchError("broken"); });
    EXPECT_EQ(DispatchMessage([&] { (void)o.Get("Fail"); }), "Member 'Fail' of object 'O': broken");
}

TEST(MemoryObject, PropertyCalledWithArgumentsIsAnError) {
    MemoryObject o("HTMLDocument");
    o.SetProperty("title", "T");
    EXPECT_EQ(o.Call("Title", {}), Variant("T"));
    EXPECT_THAT(DispatchMessage([&] { (void)o.Call("Title", {0}); }),
                AllOf(HasSubstr("'Title'"), HasSubstr("'HTMLDocument'")));
}

TEST(MemoryObject, PutStoresAndLogsUnderTheMembersOwnName) {
    MemoryObject o("Location");
    o.SetProperty("href", "http://a/");
    o.Put("HREF", "http://b/");
    o.Put("href", 3);
    EXPECT_EQ(o.Get("Href"), Variant(3));
    ASSERT_EQ(o.Writes().size(), 2u);
    EXPECT_EQ(o.Writes()[0].first, "href");
    EXPECT_EQ(o.Writes()[0].second, Variant("http://b/"));
    EXPECT_EQ(o.Writes()[1].second, Variant(3));
}

TEST(MemoryObject, ReadOnlyPropertiesAndMethodsRefuseWrites) {
    MemoryObject o("HTMLDocument");
    o.SetProperty("URL", "http://a/", false);
    o.SetMethod("open", 0, 0, [](const std::vector<Variant>&) { return Variant(); });
    EXPECT_EQ(DispatchMessage([&] { o.Put("url", "x"); }),
              "Member 'url' of object 'HTMLDocument' cannot be written");
    EXPECT_THAT(DispatchMessage([&] { o.Put("Open", "x"); }), HasSubstr("'Open'"));
    EXPECT_EQ(o.Get("URL"), Variant("http://a/"));
    EXPECT_TRUE(o.Writes().empty());
}

TEST(MemoryObject, DefaultValue) {
    MemoryObject none("HTMLDocument");
    EXPECT_EQ(DispatchMessage([&] { (void)none.DefaultValue(); }),
              "Object 'HTMLDocument' has no default value");

    auto fixed = std::make_shared<MemoryObject>("Fixed");
    fixed->SetDefaultValue("text");
    EXPECT_EQ(Variant(fixed).ToText(), "text");

    auto location = std::make_shared<MemoryObject>("Location");
    location->SetProperty("href", "http://a/");
    location->SetDefaultMember("HREF");
    EXPECT_EQ(Variant(location).ToText(), "http://a/");
    location->Put("href", "http://b/");
    EXPECT_EQ(Variant(location).ToText(), "http://b/");
}

TEST(MemoryObject, AsMemoryObject) {
    auto o = std::make_shared<MemoryObject>("O");
    EXPECT_EQ(AsMemoryObject(Variant(o)), o);
    EXPECT_EQ(AsMemoryObject(Variant(1)), nullptr);
    EXPECT_EQ(AsMemoryObject(Variant::Null()), nullptr);
}

// --- The window tree ----------------------------------------------------------

TEST(MemoryWindow, MainPageChains) {
    const Variant w = MakeMemoryWindow(SamplePage());
    EXPECT_EQ(w.Get("parent").Get("document").Get("Url").ToText(),
              "http://example.test/site/index.htm");
    EXPECT_EQ(w.Get("parent").Get("document").Get("URL").ToText(),
              "http://example.test/site/index.htm");
    EXPECT_EQ(w.Get("parent").Get("document").Get("Title").ToText(), "  Frameset page  ");
    EXPECT_EQ(w.Get("parent").Get("document").Get("location").ToText(),
              "http://example.test/site/index.htm");
    EXPECT_EQ(w.Get("document").Get("characterSet").ToText(), "windows-1252");
    EXPECT_EQ(w.Get("document").Get("selection").Get("createRange").Get("text").ToText(),
              "chosen words");
}

TEST(MemoryWindow, TopWindowIsItsOwnParent) {
    const Variant w = MakeMemoryWindow(SamplePage());
    EXPECT_EQ(w.Get("parent"), w);
    EXPECT_EQ(w.Get("Parent").Get("PARENT"), w);
}

TEST(MemoryWindow, EmptySelectionGivesEmptyText) {
    const Variant w = MakeMemoryWindow(MemoryPage{});
    const Variant range = w.Get("document").Get("selection").Call("createRange", {});
    EXPECT_EQ(range.Get("text"), Variant(""));
    // Each call hands out a new range, as a browser does.
    EXPECT_NE(w.Get("document").Get("selection").Get("createRange"), range);
}

TEST(MemoryWindow, Links) {
    const Variant w = MakeMemoryWindow(SamplePage());
    const Variant links = w.Get("document").Get("Links");
    ASSERT_EQ(links.Get("Length").ToInteger(), 2);
    EXPECT_EQ(links.Call("Item", {0}).Get("href").ToText(), "http://example.test/site/a.htm");
    EXPECT_EQ(links.Call("Item", {0}).Get("innerText").ToText(), "First");
    EXPECT_EQ(links.Call("Item", {1}).Get("href").ToText(), "mailto:someone@example.test");
    EXPECT_EQ(links.Call("item", {1}).Get("InnerText").ToText(), "Mail");
    // Same element each time: the collection is not rebuilt per read.
    EXPECT_EQ(links.Call("Item", {1}), links.Call("item", {1}));
    EXPECT_EQ(w.Get("document").Get("links").Get("length"), Variant(2));
}

TEST(MemoryWindow, ItemOutOfRangeNamesTheMember) {
    const Variant links = Variant(MakeMemoryWindow(SamplePage())).Get("document").Get("Links");
    EXPECT_EQ(DispatchMessage([&] { (void)links.Call("Item", {2}); }),
              "Member 'Item' of object 'HTMLCollection': index 2 is out of range (0 to 1)");
    EXPECT_THAT(DispatchMessage([&] { (void)links.Call("Item", {-1}); }),
                AllOf(HasSubstr("'Item'"), HasSubstr("out of range")));
    const Variant images = Variant(MakeMemoryWindow(MemoryPage{})).Get("document").Get("Images");
    EXPECT_EQ(images.Get("Length").ToInteger(), 0);
    EXPECT_THAT(DispatchMessage([&] { (void)images.Call("Item", {0}); }),
                AllOf(HasSubstr("'Item'"), HasSubstr("empty")));
}

TEST(MemoryWindow, ItemArgumentsAreChecked) {
    const Variant d = Variant(MakeMemoryWindow(SamplePage())).Get("document");
    EXPECT_THAT(DispatchMessage([&] { (void)d.Get("links").Call("Item", {"0"}); }),
                AllOf(HasSubstr("'Item'"), HasSubstr("integer")));
    EXPECT_THAT(DispatchMessage([&] {
                    (void)d.Get("links").Call("Item", {0, 0});
                }),
                HasSubstr("'Item'"));
    EXPECT_THAT(DispatchMessage([&] { (void)d.Get("links").Get("Item"); }), HasSubstr("'Item'"));
    EXPECT_THAT(DispatchMessage([&] {
                    (void)d.Get("All").Call("Item", {0, 1});
                }),
                HasSubstr("argument 2"));
    EXPECT_THAT(DispatchMessage([&] {
                    (void)d.Get("All").Call("Item", {0, 0, 0});
                }),
                HasSubstr("'Item'"));
}

TEST(MemoryWindow, UnknownMemberOnTheTree) {
    const Variant w = MakeMemoryWindow(SamplePage());
    EXPECT_EQ(DispatchMessage([&] { (void)w.Get("document").Get("foo"); }),
              "Object 'HTMLDocument' has no member 'foo'");
    EXPECT_EQ(DispatchMessage([&] { (void)w.Get("documents"); }),
              "Object 'Window' has no member 'documents'");
}

TEST(MemoryWindow, AllHoldsTheRootElementAmongOthers) {
    const Variant all =
        Variant(MakeMemoryWindow(SamplePage())).Get("parent").Get("document").Get("All");
    // "!" for the preamble, HTML, HEAD, BODY, two links, one image.
    ASSERT_EQ(all.Get("Length").ToInteger(), 7);
    std::vector<std::string> tags;
    for (std::int64_t i = 0; i < 7; ++i)
        tags.push_back(all.Call("Item", {Variant(i), Variant(0)}).Get("tagName").ToText());
    EXPECT_EQ(tags, (std::vector<std::string>{"!", "HTML", "HEAD", "BODY", "A", "A", "IMG"}));
    EXPECT_EQ(all.Call("Item", {0, 0}).Get("outerHTML").ToText(), "<!DOCTYPE html>");
    EXPECT_EQ(all.Call("Item", {1, 0}).Get("outerHTML").ToText(), SamplePage().Html);
    EXPECT_EQ(all.Call("Item", {2, 0}).Get("outerHTML").ToText(),
              "<head><title>Frameset page</title></head>");
    // The page has a frameset and no body.
    EXPECT_EQ(all.Call("Item", {3, 0}).Get("outerHTML").ToText(), "");
    // Item(i) alone works on All too.
    EXPECT_EQ(all.Call("Item", {1}), all.Call("item", {1, 0}));
}

TEST(MemoryWindow, WithoutPreambleTheRootComesFirst) {
    MemoryPage page;
    page.Html = "<html><body><p>x</p></body></html>";
    const Variant all = Variant(MakeMemoryWindow(page)).Get("document").Get("all");
    EXPECT_EQ(all.Call("item", {0, 0}).Get("tagName").ToText(), "HTML");
    EXPECT_EQ(all.Call("item", {2, 0}).Get("outerHTML").ToText(), "<body><p>x</p></body>");
}

TEST(MemoryWindow, LinkElementsAreSharedWithAll) {
    const Variant d = Variant(MakeMemoryWindow(SamplePage())).Get("document");
    EXPECT_EQ(d.Get("All").Call("Item", {4, 0}), d.Get("Links").Call("Item", {0}));
    EXPECT_EQ(d.Get("All").Call("Item", {6, 0}), d.Get("Images").Call("Item", {0}));
}

TEST(MemoryWindow, Frames) {
    const Variant w = MakeMemoryWindow(SamplePage());
    const Variant frames = w.Get("parent").Get("frames");
    ASSERT_EQ(frames.Get("Length").ToInteger(), 2);
    const Variant f = frames.Call("Item", {0});
    EXPECT_EQ(f.Get("location").ToText(), "http://example.test/site/left.htm");
    EXPECT_EQ(f.Get("document").Get("Title").ToText(), "Left");
    EXPECT_EQ(f.Get("document").Get("URL").ToText(), "http://example.test/site/left.htm");
    const Variant images = f.Get("document").Get("Images");
    ASSERT_EQ(images.Get("Length").ToInteger(), 2);
    EXPECT_EQ(images.Call("Item", {1}).Get("src").ToText(), "http://example.test/site/pic2.gif");
    const Variant root = f.Get("document").Get("All").Call("Item", {0, 0});
    EXPECT_EQ(root.Get("tagName").ToText(), "HTML");
    EXPECT_EQ(f.Get("document").Get("All").Call("Item", {1, 0}).Get("outerHTML").ToText(),
              "<HEAD><LINK rel=stylesheet href=\"left.css\"></HEAD>");
    EXPECT_EQ(f.Get("frames").Get("Length").ToInteger(), 0);
}

TEST(MemoryWindow, FrameParentIsTheTopWindow) {
    const Variant w = MakeMemoryWindow(SamplePage());
    const Variant f = w.Get("frames").Call("Item", {1});
    EXPECT_EQ(f.Get("parent"), w);
    EXPECT_NE(f, w);

    MemoryPage nested = SamplePage();
    nested.Frames[0].Frames = {MemoryPage{}};
    const Variant top = MakeMemoryWindow(nested);
    const Variant inner = top.Get("frames").Call("Item", {0}).Get("frames").Call("Item", {0});
    EXPECT_EQ(inner.Get("parent"), top.Get("frames").Call("Item", {0}));
    EXPECT_EQ(inner.Get("parent").Get("parent"), top);
}

TEST(MemoryWindow, CrossOriginFrameRefusesItsDocument) {
    const Variant w = MakeMemoryWindow(SamplePage());
    const Variant f = w.Get("parent").Get("frames").Call("Item", {1});
    EXPECT_EQ(f.Get("location").ToText(), "http://other.test/right.htm");
    EXPECT_THAT(DispatchMessage([&] { (void)f.Get("document"); }),
                AllOf(HasSubstr("'document'"), HasSubstr("Access is denied")));
    EXPECT_THAT(DispatchMessage([&] { (void)f.Get("Document").Get("Title"); }),
                HasSubstr("'Document'"));
    // The flag means nothing on the top page, which the browser always hands out.
    MemoryPage top = SamplePage();
    top.CrossOrigin = true;
    EXPECT_EQ(Variant(MakeMemoryWindow(top)).Get("document").Get("Title").ToText(),
              "  Frameset page  ");
}

TEST(MemoryWindow, NavigationWriteIsRecordedAndReadsBack) {
    const Variant w = MakeMemoryWindow(SamplePage());
    w.Get("document").Get("location").Put("href", "http://example.test/file.zip");
    const auto location = AsMemoryObject(w.Get("location"));
    ASSERT_NE(location, nullptr);
    ASSERT_EQ(location->Writes().size(), 1u);
    EXPECT_EQ(location->Writes()[0].first, "href");
    EXPECT_EQ(location->Writes()[0].second, Variant("http://example.test/file.zip"));
    // One location for window and document, its text following href.
    EXPECT_EQ(w.Get("location").ToText(), "http://example.test/file.zip");
    EXPECT_EQ(w.Get("document").Get("location").Get("HREF").ToText(),
              "http://example.test/file.zip");
    // The document itself has not changed.
    EXPECT_EQ(w.Get("document").Get("URL").ToText(), "http://example.test/site/index.htm");
}

TEST(MemoryWindow, StructuralMembersAreReadOnly) {
    const Variant w = MakeMemoryWindow(SamplePage());
    EXPECT_THROW(w.Get("document").Put("URL", "x"), DispatchError);
    EXPECT_THROW(w.Put("document", 1), DispatchError);
    EXPECT_THROW(w.Get("document").Get("links").Put("length", 0), DispatchError);
    EXPECT_THROW(w.Put("parent", 1), DispatchError);
}

TEST(MemoryWindow, TreeIsFreedWithItsLastReference) {
    DispatchPtr w = MakeMemoryWindow(SamplePage());
    std::weak_ptr<IDispatchObject> top = w;
    Variant frame = Variant(w).Get("frames").Call("Item", {0});
    std::weak_ptr<IDispatchObject> frameDocument = frame.Get("document").ToObject();
    w.reset();
    // No cycle keeps the top window alive (it is its own parent).
    EXPECT_TRUE(top.expired());
    EXPECT_FALSE(frameDocument.expired());
    EXPECT_THAT(DispatchMessage([&] { (void)frame.Get("parent"); }), HasSubstr("'parent'"));
    frame = Variant();
    EXPECT_TRUE(frameDocument.expired());
}

// --- JSON fixtures ----------------------------------------------------------------

TEST(MemoryWindowJson, FixtureFileMatchesTheBuiltWindow) {
    const std::string expected = Describe(Variant(MakeMemoryWindow(SamplePage())));
    EXPECT_EQ(Describe(Variant(LoadMemoryWindow(FixturePath("frameset.json")))), expected);
    // The description covers what it should, so the comparison means something.
    EXPECT_THAT(expected, HasSubstr("image http://example.test/site/pic2.gif"));
    EXPECT_THAT(expected, HasSubstr("document refused"));
    EXPECT_THAT(expected, HasSubstr("selection=chosen words"));
}

TEST(MemoryWindowJson, MissingKeysTakeDefaults) {
    const MemoryPage page = ParseMemoryPage(R"({"url": "http://h/"})");
    EXPECT_EQ(page.Url, "http://h/");
    EXPECT_EQ(page.Title, "");
    EXPECT_EQ(page.CharacterSet, "UTF-8");
    EXPECT_FALSE(page.CrossOrigin);
    EXPECT_TRUE(page.Links.empty());
    const Variant w = MakeMemoryWindowFromJson(R"({"frames": [{"crossOrigin": true}, {}]})");
    EXPECT_EQ(w.Get("document").Get("characterSet").ToText(), "UTF-8");
    EXPECT_EQ(w.Get("frames").Get("length").ToInteger(), 2);
    EXPECT_THROW((void)w.Get("frames").Call("item", {0}).Get("document"), DispatchError);
    EXPECT_NO_THROW((void)w.Get("frames").Call("item", {1}).Get("document"));
}

TEST(MemoryWindowJson, LinksAndImagesFromJson) {
    const Variant d = Variant(MakeMemoryWindowFromJson(
                                  R"({"links": [{"href": "h1", "text": "t1"}, {"href": "h2"}],
                              "images": ["i1"], "selection": "sel", "title": "T"})"))
                          .Get("document");
    EXPECT_EQ(d.Get("links").Call("item", {1}).Get("href").ToText(), "h2");
    EXPECT_EQ(d.Get("links").Call("item", {1}).Get("innerText").ToText(), "");
    EXPECT_EQ(d.Get("links").Call("item", {0}).Get("innerText").ToText(), "t1");
    EXPECT_EQ(d.Get("images").Call("item", {0}).Get("src").ToText(), "i1");
    EXPECT_EQ(d.Get("title").ToText(), "T");
}

TEST(MemoryWindowJson, MalformedJsonNamesTheSource) {
    const std::string path =
        (std::filesystem::temp_directory_path() / "larkspool_broken_page.json").string();
    {
        std::ofstream out(path);
        out << "{\"url\": \"http://h/\",\n \"title\": }";
    }
    const std::string message = RuntimeMessage([&] { (void)LoadMemoryWindow(path); });
    std::remove(path.c_str());
    EXPECT_THAT(message, AllOf(HasSubstr(path), HasSubstr("parse error"), HasSubstr("line 2")));
}

TEST(MemoryWindowJson, WrongTypesAndUnknownKeysAreRefused) {
    EXPECT_THAT(RuntimeMessage([] { (void)MakeMemoryWindowFromJson(R"({"title": 5})"); }),
                AllOf(HasSubstr("title"), HasSubstr("type must be string")));
    EXPECT_THAT(RuntimeMessage([] {
                    (void)MakeMemoryWindowFromJson(R"({"frames": [{"links": [{"href": 1}]}]})");
                }),
                HasSubstr("frames[0].links[0].href"));
    EXPECT_THAT(RuntimeMessage([] { (void)MakeMemoryWindowFromJson(R"({"tittle": "x"})"); }),
                HasSubstr("unknown key 'tittle'"));
    EXPECT_THAT(RuntimeMessage([] { (void)MakeMemoryWindowFromJson(R"({"images": "a.gif"})"); }),
                AllOf(HasSubstr("images"), HasSubstr("array")));
    EXPECT_THAT(RuntimeMessage([] { (void)MakeMemoryWindowFromJson(R"([1, 2])"); }),
                HasSubstr("object"));
    EXPECT_THAT(RuntimeMessage([] { (void)MakeMemoryWindowFromJson(R"({"crossOrigin": "yes"})"); }),
                HasSubstr("crossOrigin"));
}

TEST(MemoryWindowJson, MissingFileIsAnError) {
    EXPECT_THAT(RuntimeMessage([] { (void)LoadMemoryWindow("/nonexistent/page.json"); }),
                HasSubstr("/nonexistent/page.json"));
}
