#pragma once

// The page rules both bridges to a real browser must answer alike (they run
// the same extension/answerer.js, the extension in its content world and
// larkspool-save through DevTools): the shims, case-insensitive names and
// the wording of every kind of failure. Run on the window of any page; the
// DevTools tests and the extension's end-to-end probe both call it.

#include "browser/Variant.h"

#include <string>
#include <vector>

namespace larkspool::check {

// One line per rule the bridge broke; empty when it kept them all.
inline std::vector<std::string> CheckBridgeRules(const Variant& Window) {
    std::vector<std::string> broken;
    const auto expect = [&](const std::string& What, const std::string& Actual,
                            const std::string& Expected) {
        if (Actual != Expected)
            broken.push_back(What + ": \"" + Actual + "\", not \"" + Expected + "\"");
    };
    const auto errorOf = [](auto Action) -> std::string {
        try {
            Action();
        } catch (const DispatchError& e) {
            return e.what();
        }
        return "(no error)";
    };
    // A rule whose reading itself fails is broken too, with what it said.
    const auto rule = [&](const std::string& What, auto Check) {
        try {
            Check();
        } catch (const std::exception& e) {
            broken.push_back(What + ": " + e.what());
        }
    };

    rule("names", [&] {
        // The member document wins over the interface object Document.
        const Variant d = Window.Get("DOCUMENT");
        expect("class of DOCUMENT", d.ToObject()->ClassName(), "HTMLDocument");
        expect("Url", d.Get("Url").ToText(), d.Get("URL").ToText());
        expect("a missing member", errorOf([&] { (void)d.Get("NoSuchThing"); }),
               "Object 'HTMLDocument' has no member 'NoSuchThing'");
        expect("a property called", errorOf([&] { (void)d.Call("URL", {1}); }),
               "Member 'URL' of object 'HTMLDocument' is a property and takes no arguments");
    });
    rule("writes", [&] {
        const Variant d = Window.Get("document");
        expect("a read-only member written", errorOf([&] { d.Put("URL", "x"); }),
               "Member 'URL' of object 'HTMLDocument' cannot be written");
        expect("frames.item written", errorOf([&] { Window.Get("frames").Put("item", 1); }),
               "Member 'item' of object 'Window' cannot be written");
        // A writable member still takes the value.
        d.Get("body").Put("Title", "written");
        expect("a member written", d.Get("body").Get("title").ToText(), "written");
    });
    rule("exceptions", [&] {
        const std::string e =
            errorOf([&] { (void)Window.Get("document").Call("createElement", {""}); });
        expect("an exception of the page", e.substr(0, e.find(':', e.find(':') + 1) + 1),
               "Member 'createElement' of object 'HTMLDocument': InvalidCharacterError:");
    });
    rule("location", [&] {
        const Variant d = Window.Get("document");
        const Variant location = d.Get("Location");
        expect("class of location", location.ToObject()->ClassName(), "Location");
        expect("the location's default value", location.ToText(), d.Get("URL").ToText());
    });
    rule("all", [&] {
        const Variant all = Window.Get("document").Get("All");
        expect("class of all", all.ToObject()->ClassName(), "HTMLAllCollection");
        expect("all.item(0, 0)", all.Call("Item", {0, 0}).Get("tagName").ToText(), "HTML");
        expect("all.item()", errorOf([&] { (void)all.Call("item", {}); }),
               "Member 'item' of object 'HTMLAllCollection' takes an index or a name and an "
               "optional second argument");
    });
    rule("frames", [&] {
        const Variant frames = Window.Get("Frames");
        const std::int64_t n = frames.Get("Length").ToInteger();
        expect("frames.item past the end", errorOf([&] { (void)frames.Call("Item", {n}); }),
               "Member 'Item' of object 'Window' index " + std::to_string(n) +
                   " is out of range (0 to " + std::to_string(n - 1) + ")");
        expect("frames.item of a name", errorOf([&] { (void)frames.Call("item", {"x"}); }),
               "Member 'item' of object 'Window' takes one integer argument");
    });
    rule("selection", [&] {
        const Variant selection = Window.Get("document").Get("Selection");
        expect("class of selection", selection.ToObject()->ClassName(), "TextSelection");
        const Variant range = selection.Get("createRange");
        expect("class of its range", range.ToObject()->ClassName(), "TextRange");
        expect("the selected text", range.Get("Text").ToText(),
               Window.Call("getSelection", {}).Call("toString", {}).ToText());
    });
    return broken;
}

} // namespace larkspool::check
