#pragma once

// An in-memory browser window for tests.
//
// The tree answers only what a real browser answers, through Get, Call and
// Put: nothing here lets a caller take a shortcut the extension or headless
// Chromium could not serve. Members are looked up without regard to ASCII
// letter case, as the browser's automation interface did.
//
// Window:   parent (the top window's parent is itself), document, frames,
//           location
// Document: URL, Title, characterSet, compatMode, links, Images, All, location, selection
// Location: href; its default value is href
// Selection: createRange() -> an object with text
// Collections: Length, Item(i); All also takes Item(i, 0)
//
// A frame whose page comes from another origin reads as any frame, as both
// bridges read it in its own context; a frame marked unreadable (one the
// browser side cannot reach: gone, or refused) refuses its document, and
// its location still gives its address, as the bridges' fallback does.

#include "browser/Variant.h"

#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace larkspool {

// A generic object with a table of properties and methods.
class MemoryObject : public IDispatchObject {
public:
    using Method = std::function<Variant(const std::vector<Variant>& Args)>;

    explicit MemoryObject(std::string ClassName);

    // Adds or replaces a member. Names keep their spelling for messages and
    // the write log; lookup ignores ASCII case. A property that is not
    // Writable refuses Put, as a browser's read-only members do.
    void SetProperty(std::string_view Name, Variant Value, bool Writable = true);
    // A method taking MinArgs to MaxArgs arguments; the count is checked
    // before Body runs. A DispatchError from Body is reported under the
    // member's name.
    void SetMethod(std::string_view Name, std::size_t MinArgs, std::size_t MaxArgs, Method Body);
    // The object's default value: a fixed value, or the current value of one
    // of its members (a location's href).
    void SetDefaultValue(Variant Value);
    void SetDefaultMember(std::string_view Name);
    bool HasMember(std::string_view Name) const;

    // A property's value, or a method called without arguments.
    Variant Get(std::string_view Name) override;
    // A method with arguments; a property accepts a call without arguments.
    Variant Call(std::string_view Name, const std::vector<Variant>& Args) override;
    // Stores a writable property and logs the write; unknown members, methods
    // and read-only properties are refused, so a stray write shows up in tests.
    void Put(std::string_view Name, const Variant& Value) override;
    Variant DefaultValue() override;
    std::string ClassName() const override;

    // Every successful Put in order, under the member's own spelling.
    const std::vector<std::pair<std::string, Variant>>& Writes() const { return FWrites; }

private:
    struct Member {
        std::string Name;
        Variant Value;
        Method Body; // set for methods
        bool Writable = true;
        std::size_t MinArgs = 0;
        std::size_t MaxArgs = 0;
    };

    Member& Find(std::string_view Name);
    const Member* TryFind(std::string_view Name) const;
    Variant Invoke(Member& M, std::string_view Name, const std::vector<Variant>& Args);

    std::string FClassName;
    std::map<std::string, Member> FMembers; // keyed by the lower-case name
    std::optional<Variant> FDefaultValue;
    std::string FDefaultMember;
    std::vector<std::pair<std::string, Variant>> FWrites;
};

// The MemoryObject held by Value, or null when it holds something else.
std::shared_ptr<MemoryObject> AsMemoryObject(const Variant& Value);

// A page as a test describes it.
struct MemoryPage {
    struct Link {
        std::string Href, Text;
    };

    std::string Url, Title, Selection, CharacterSet = "UTF-8";
    // "CSS1Compat" for a page in standards mode (it had a document type
    // declaration), "BackCompat" for quirks mode.
    std::string CompatMode = "BackCompat";
    // The root element's markup (its outerHTML).
    std::string Html;
    // Markup before the root element (a document type declaration or a
    // comment). When set, the document's All starts with a "!" element for it,
    // so the root is no longer the first element.
    std::string Preamble;
    std::vector<Link> Links;
    std::vector<std::string> Images;
    std::vector<MemoryPage> Frames;
    // For a frame: its page comes from another origin. It reads as any
    // frame; kept so fixtures say what they stand for.
    bool CrossOrigin = false;
    // For a frame: the browser side cannot read it, so its document is
    // refused. Ignored on the top page, which is always handed out.
    bool Unreadable = false;
};

// The window showing Top, its frames built from Top.Frames.
DispatchPtr MakeMemoryWindow(const MemoryPage& Top);

// The same description as JSON:
//   {"url", "title", "selection", "characterSet", "compatMode", "html", "preamble",
//    "links": [{"href", "text"}], "images": ["..."], "frames": [{...}],
//    "crossOrigin": false, "unreadable": false}
// Missing keys take the defaults above; unknown keys and values of the wrong
// type are refused. Errors are std::runtime_error naming the source and the
// JSON library's message.
MemoryPage ParseMemoryPage(const std::string& JsonText, const std::string& Source = "JSON text");
DispatchPtr MakeMemoryWindowFromJson(const std::string& JsonText);
DispatchPtr LoadMemoryWindow(const std::string& JsonFile);

} // namespace larkspool
