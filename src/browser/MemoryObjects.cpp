#include "browser/MemoryObjects.h"

#include "platform/AsciiText.h"

#include <fstream>
#include <sstream>
#include <stdexcept>

#include <nlohmann/json.hpp>

namespace larkspool {

namespace {

std::string Quoted(std::string_view S) {
    return "'" + std::string(S) + "'";
}

std::string MemberOf(std::string_view Name, const std::string& ClassName) {
    return "Member " + Quoted(Name) + " of object " + Quoted(ClassName);
}

std::string ArgumentCount(std::size_t Min, std::size_t Max) {
    std::string count = std::to_string(Min);
    if (Max != Min)
        count += " to " + std::to_string(Max);
    return count + (Max == 1 ? " argument" : " arguments");
}

} // namespace

// --- MemoryObject ----------------------------------------------------------

MemoryObject::MemoryObject(std::string ClassName) : FClassName(std::move(ClassName)) {}

void MemoryObject::SetProperty(std::string_view Name, Variant Value, bool Writable) {
    Member m;
    m.Name = std::string(Name);
    m.Value = std::move(Value);
    m.Writable = Writable;
    FMembers.insert_or_assign(LowerAscii(Name), std::move(m));
}

void MemoryObject::SetMethod(std::string_view Name, std::size_t MinArgs, std::size_t MaxArgs,
                             Method Body) {
    Member m;
    m.Name = std::string(Name);
    m.Body = std::move(Body);
    m.MinArgs = MinArgs;
    m.MaxArgs = MaxArgs < MinArgs ? MinArgs : MaxArgs;
    m.Writable = false;
    FMembers.insert_or_assign(LowerAscii(Name), std::move(m));
}

void MemoryObject::SetDefaultValue(Variant Value) {
    FDefaultValue = std::move(Value);
    FDefaultMember.clear();
}

void MemoryObject::SetDefaultMember(std::string_view Name) {
    FDefaultMember = std::string(Name);
    FDefaultValue.reset();
}

bool MemoryObject::HasMember(std::string_view Name) const {
    return TryFind(Name) != nullptr;
}

const MemoryObject::Member* MemoryObject::TryFind(std::string_view Name) const {
    const auto it = FMembers.find(LowerAscii(Name));
    return it == FMembers.end() ? nullptr : &it->second;
}

MemoryObject::Member& MemoryObject::Find(std::string_view Name) {
    const auto it = FMembers.find(LowerAscii(Name));
    if (it == FMembers.end())
        throw DispatchError("Object " + Quoted(FClassName) + " has no member " + Quoted(Name));
    return it->second;
}

Variant MemoryObject::Invoke(Member& M, std::string_view Name, const std::vector<Variant>& Args) {
    if (Args.size() < M.MinArgs || Args.size() > M.MaxArgs)
        throw DispatchError(MemberOf(Name, FClassName) + " takes " +
                            ArgumentCount(M.MinArgs, M.MaxArgs) + ", not " +
                            std::to_string(Args.size()));
    // A copy, so that a body which replaces its own member stays alive.
    const Method body = M.Body;
    try {
        return body(Args);
    } catch (const DispatchError& e) {
        throw DispatchError(MemberOf(Name, FClassName) + ": " + e.what());
    }
}

Variant MemoryObject::Get(std::string_view Name) {
    Member& m = Find(Name);
    if (m.Body)
        return Invoke(m, Name, {});
    return m.Value;
}

Variant MemoryObject::Call(std::string_view Name, const std::vector<Variant>& Args) {
    Member& m = Find(Name);
    if (m.Body)
        return Invoke(m, Name, Args);
    // A late-bound caller cannot tell a property from a method without
    // arguments, so both answer; arguments to a plain value are a mistake.
    if (!Args.empty())
        throw DispatchError(MemberOf(Name, FClassName) + " is a property and takes no arguments");
    return m.Value;
}

void MemoryObject::Put(std::string_view Name, const Variant& Value) {
    Member& m = Find(Name);
    if (!m.Writable)
        throw DispatchError(MemberOf(Name, FClassName) + " cannot be written");
    m.Value = Value;
    FWrites.emplace_back(m.Name, Value);
}

Variant MemoryObject::DefaultValue() {
    if (!FDefaultMember.empty())
        return Get(FDefaultMember);
    if (FDefaultValue)
        return *FDefaultValue;
    return IDispatchObject::DefaultValue();
}

std::string MemoryObject::ClassName() const {
    return FClassName;
}

std::shared_ptr<MemoryObject> AsMemoryObject(const Variant& Value) {
    if (!Value.IsObject())
        return nullptr;
    return std::dynamic_pointer_cast<MemoryObject>(Value.ToObject());
}

// --- The window tree ---------------------------------------------------------

namespace {

using ObjectPtr = std::shared_ptr<MemoryObject>;

std::int64_t IntegerArgument(const std::vector<Variant>& Args, std::size_t Index) {
    const Variant& arg = Args[Index];
    if (arg.GetType() != Variant::Type::Integer)
        throw DispatchError("argument " + std::to_string(Index + 1) + " must be an integer, not " +
                            TypeName(arg.GetType()));
    return arg.ToInteger();
}

// Length and Item(i), counted from 0. All takes Item(i, 0) as the old browser
// did, the second argument being a sub-index that must be 0 here.
ObjectPtr MakeCollection(std::string ClassName, std::vector<DispatchPtr> Items,
                         bool TakesSubIndex) {
    auto collection = std::make_shared<MemoryObject>(std::move(ClassName));
    auto items = std::make_shared<const std::vector<DispatchPtr>>(std::move(Items));
    collection->SetMethod("length", 0, 0, [items](const std::vector<Variant>&) {
        return Variant(static_cast<std::int64_t>(items->size()));
    });
    collection->SetMethod(
        "item", 1, TakesSubIndex ? 2 : 1, [items](const std::vector<Variant>& Args) {
            const std::int64_t index = IntegerArgument(Args, 0);
            if (Args.size() > 1 && IntegerArgument(Args, 1) != 0)
                throw DispatchError("argument 2 must be 0");
            const auto count = static_cast<std::int64_t>(items->size());
            if (index < 0 || index >= count)
                throw DispatchError("index " + std::to_string(index) + " is out of range (" +
                                    (count == 0 ? std::string("the collection is empty")
                                                : "0 to " + std::to_string(count - 1)) +
                                    ")");
            return Variant((*items)[static_cast<std::size_t>(index)]);
        });
    return collection;
}

ObjectPtr MakeElement(std::string ClassName, std::string TagName, std::string OuterHtml) {
    auto element = std::make_shared<MemoryObject>(std::move(ClassName));
    element->SetProperty("tagName", std::move(TagName), false);
    element->SetProperty("outerHTML", std::move(OuterHtml));
    return element;
}

// The markup of the first <Tag ...>...</Tag> in Html, or empty; enough to give
// the head and body elements markup of their own.
std::string ElementMarkup(const std::string& Html, const std::string& Tag) {
    const std::string lower = LowerAscii(Html);
    std::size_t start = 0;
    while ((start = lower.find("<" + Tag, start)) != std::string::npos) {
        const std::size_t after = start + 1 + Tag.size();
        if (after < lower.size() &&
            (lower[after] == '>' || lower[after] == '/' || lower[after] == ' ' ||
             lower[after] == '\t' || lower[after] == '\r' || lower[after] == '\n'))
            break;
        start = after;
    }
    if (start == std::string::npos)
        return "";
    const std::size_t close = lower.find("</" + Tag, start);
    const std::size_t end = close == std::string::npos ? std::string::npos : lower.find('>', close);
    if (end == std::string::npos)
        return "";
    return Html.substr(start, end + 1 - start);
}

ObjectPtr MakeLocation(const std::string& Url) {
    auto location = std::make_shared<MemoryObject>("Location");
    location->SetProperty("href", Url);
    location->SetDefaultMember("href");
    return location;
}

ObjectPtr MakeSelection(const std::string& Text) {
    auto selection = std::make_shared<MemoryObject>("Selection");
    // A fresh range on every call, as the browser hands out.
    selection->SetMethod("createRange", 0, 0, [Text](const std::vector<Variant>&) {
        auto range = std::make_shared<MemoryObject>("TextRange");
        range->SetProperty("text", Text);
        return Variant(DispatchPtr(range));
    });
    return selection;
}

ObjectPtr MakeDocument(const MemoryPage& Page, const ObjectPtr& Location) {
    std::vector<DispatchPtr> links, images, all;
    if (!Page.Preamble.empty())
        all.push_back(MakeElement("HTMLCommentElement", "!", Page.Preamble));
    all.push_back(MakeElement("HTMLHtmlElement", "HTML", Page.Html));
    all.push_back(MakeElement("HTMLHeadElement", "HEAD", ElementMarkup(Page.Html, "head")));
    all.push_back(MakeElement("HTMLBodyElement", "BODY", ElementMarkup(Page.Html, "body")));
    for (const MemoryPage::Link& link : Page.Links) {
        auto anchor = MakeElement("HTMLAnchorElement", "A",
                                  "<a href=\"" + link.Href + "\">" + link.Text + "</a>");
        anchor->SetProperty("href", link.Href);
        anchor->SetProperty("innerText", link.Text);
        links.push_back(anchor);
        all.push_back(anchor);
    }
    for (const std::string& src : Page.Images) {
        auto image = MakeElement("HTMLImageElement", "IMG", "<img src=\"" + src + "\">");
        image->SetProperty("src", src);
        images.push_back(image);
        all.push_back(image);
    }

    auto document = std::make_shared<MemoryObject>("HTMLDocument");
    document->SetProperty("URL", Page.Url, false);
    document->SetProperty("title", Page.Title);
    document->SetProperty("characterSet", Page.CharacterSet, false);
    document->SetProperty("compatMode", Page.CompatMode, false);
    document->SetProperty("links", MakeCollection("HTMLCollection", std::move(links), false),
                          false);
    document->SetProperty("images", MakeCollection("HTMLCollection", std::move(images), false),
                          false);
    document->SetProperty("all", MakeCollection("HTMLAllCollection", std::move(all), true), false);
    document->SetProperty("location", Location, false);
    document->SetProperty("selection", MakeSelection(Page.Selection), false);
    return document;
}

// Parent is null for the top window, whose parent is itself. Parents are held
// weakly: the tree owns its frames, and a strong link back would be a cycle.
ObjectPtr MakeWindow(const MemoryPage& Page, const ObjectPtr& Parent) {
    auto window = std::make_shared<MemoryObject>("Window");
    const std::weak_ptr<MemoryObject> parent = Parent ? Parent : window;
    window->SetMethod("parent", 0, 0, [parent](const std::vector<Variant>&) {
        const ObjectPtr p = parent.lock();
        if (!p)
            throw DispatchError("the window is closed");
        return Variant(DispatchPtr(p));
    });

    // One location object, shared by the window and its document as in a
    // browser, so a navigation written through either reads back from both.
    const ObjectPtr location = MakeLocation(Page.Url);
    window->SetProperty("location", location, false);
    if (Parent && Page.Unreadable)
        window->SetMethod("document", 0, 0, [](const std::vector<Variant>&) -> Variant {
            throw DispatchError("Access is denied (the frame's page comes from another origin)");
        });
    else
        window->SetProperty("document", MakeDocument(Page, location), false);

    std::vector<DispatchPtr> frames;
    for (const MemoryPage& frame : Page.Frames)
        frames.push_back(MakeWindow(frame, window));
    window->SetProperty("frames", MakeCollection("FramesCollection", std::move(frames), false),
                        false);
    return window;
}

// --- JSON fixtures -----------------------------------------------------------

// Errors carry the path inside the fixture ("frames[0].links[1].href").
[[noreturn]] void FixtureError(const std::string& Path, const std::string& Message) {
    throw std::runtime_error((Path.empty() ? std::string() : Path + ": ") + Message);
}

template <typename T> T ReadValue(const nlohmann::json& Value, const std::string& Path) {
    try {
        return Value.get<T>();
    } catch (const nlohmann::json::exception& e) {
        FixtureError(Path, e.what());
    }
}

std::string Join(const std::string& Path, const std::string& Key) {
    return Path.empty() ? Key : Path + "." + Key;
}

const nlohmann::json& ArrayAt(const nlohmann::json& Value, const std::string& Path) {
    if (!Value.is_array())
        FixtureError(Path, std::string("must be an array, not ") + Value.type_name());
    return Value;
}

MemoryPage PageFromJson(const nlohmann::json& J, const std::string& Path) {
    if (!J.is_object())
        FixtureError(Path, std::string("a page must be an object, not ") + J.type_name());
    MemoryPage page;
    for (const auto& [key, value] : J.items()) {
        const std::string path = Join(Path, key);
        if (key == "url")
            page.Url = ReadValue<std::string>(value, path);
        else if (key == "title")
            page.Title = ReadValue<std::string>(value, path);
        else if (key == "selection")
            page.Selection = ReadValue<std::string>(value, path);
        else if (key == "characterSet")
            page.CharacterSet = ReadValue<std::string>(value, path);
        else if (key == "compatMode")
            page.CompatMode = ReadValue<std::string>(value, path);
        else if (key == "html")
            page.Html = ReadValue<std::string>(value, path);
        else if (key == "preamble")
            page.Preamble = ReadValue<std::string>(value, path);
        else if (key == "crossOrigin")
            page.CrossOrigin = ReadValue<bool>(value, path);
        else if (key == "unreadable")
            page.Unreadable = ReadValue<bool>(value, path);
        else if (key == "links") {
            std::size_t i = 0;
            for (const auto& item : ArrayAt(value, path)) {
                const std::string itemPath = path + "[" + std::to_string(i++) + "]";
                if (!item.is_object())
                    FixtureError(itemPath,
                                 std::string("a link must be an object, not ") + item.type_name());
                MemoryPage::Link link;
                for (const auto& [linkKey, linkValue] : item.items()) {
                    if (linkKey == "href")
                        link.Href = ReadValue<std::string>(linkValue, Join(itemPath, linkKey));
                    else if (linkKey == "text")
                        link.Text = ReadValue<std::string>(linkValue, Join(itemPath, linkKey));
                    else
                        FixtureError(itemPath, "unknown key '" + linkKey + "'");
                }
                page.Links.push_back(std::move(link));
            }
        } else if (key == "images") {
            std::size_t i = 0;
            for (const auto& item : ArrayAt(value, path))
                page.Images.push_back(
                    ReadValue<std::string>(item, path + "[" + std::to_string(i++) + "]"));
        } else if (key == "frames") {
            std::size_t i = 0;
            for (const auto& item : ArrayAt(value, path))
                page.Frames.push_back(PageFromJson(item, path + "[" + std::to_string(i++) + "]"));
        } else
            // A misspelt key would otherwise silently leave its default.
            FixtureError(Path, "unknown key '" + key + "'");
    }
    return page;
}

} // namespace

DispatchPtr MakeMemoryWindow(const MemoryPage& Top) {
    return MakeWindow(Top, nullptr);
}

MemoryPage ParseMemoryPage(const std::string& JsonText, const std::string& Source) {
    try {
        return PageFromJson(nlohmann::json::parse(JsonText), "");
    } catch (const std::exception& e) {
        throw std::runtime_error("Malformed page fixture '" + Source + "': " + e.what());
    }
}

DispatchPtr MakeMemoryWindowFromJson(const std::string& JsonText) {
    return MakeMemoryWindow(ParseMemoryPage(JsonText));
}

DispatchPtr LoadMemoryWindow(const std::string& JsonFile) {
    std::ifstream in(JsonFile, std::ios::binary);
    if (!in)
        throw std::runtime_error("Cannot open page fixture '" + JsonFile + "'");
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad())
        throw std::runtime_error("Cannot read page fixture '" + JsonFile + "'");
    return MakeMemoryWindow(ParseMemoryPage(text.str(), JsonFile));
}

} // namespace larkspool
