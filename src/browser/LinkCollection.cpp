#include "browser/LinkCollection.h"

#include "platform/AsciiText.h"
#include "tools/UrlHelpers.h"

namespace larkspool {

std::string TrimText(const std::string& Text) {
    return std::string(TrimControls(Text));
}

std::string RowNumberCaption(int Number) {
    std::string n = std::to_string(Number);
    return n.size() < 2 ? " " + n : n;
}

PageLinks CollectPageLinks(const Variant& W, PageLinks* Partial) {
    PageLinks local;
    PageLinks& page = Partial ? *Partial : local;
    ReadPageAddressAndTitle(W, page);
    ReadPageLinks(W, page);
    return Partial ? page : local;
}

void ReadPageAddressAndTitle(const Variant& W, PageLinks& Page) {
    Page.URL = TrimText(W.Get("parent").Get("document").Get("Url").ToText());
    Page.Title = TrimText(W.Get("parent").Get("document").Get("Title").ToText());
}

void ReadPageLinks(const Variant& W, PageLinks& Page,
                   const std::function<void(const LinkRow&)>& AddRow) {
    Page.Selection = W.Get("document").Get("selection").Get("createRange").Get("text").ToText();
    // The collection is live in the browser: holding it reads the same links
    // with half the calls.
    const Variant links = W.Get("document").Get("Links");
    const std::int64_t count = links.Get("Length").ToInteger();
    for (std::int64_t i = 0; i < count; ++i) {
        const std::string address = links.Call("Item", {Variant(i)}).Get("href").ToText();
        if (!IsNotMailto(address))
            continue;
        LinkRow row;
        row.Number = RowNumberCaption(static_cast<int>(Page.Rows.size()) + 1);
        row.Address = address;
        row.Text = TrimText(links.Call("Item", {Variant(i)}).Get("innerText").ToText());
        row.Checked = !row.Text.empty() && Page.Selection.find(row.Text) != std::string::npos;
        Page.Rows.push_back(std::move(row));
        if (AddRow)
            AddRow(Page.Rows.back());
    }
}

} // namespace larkspool
