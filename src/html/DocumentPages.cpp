#include "html/DocumentPages.h"

#include "html/InertScripts.h"
#include "html/PageEncoding.h"
#include "lister/Lister.h"
#include "platform/AtomicFile.h"
#include "tools/ProcessValues.h"

namespace larkspool {

namespace {

// The markup of the document's root element, or false when it has none.
bool RootMarkup(const Variant& Document, std::string& Markup) {
    const Variant all = Document.Get("All");
    const std::int64_t count = all.Get("Length").ToInteger();
    for (std::int64_t i = 0; i < count; ++i) {
        const Variant element = all.Call("Item", {Variant(i), Variant(0)});
        if (element.Get("tagName").ToText() == "HTML") {
            Markup = element.Get("outerHTML").ToText();
            return true;
        }
    }
    return false;
}

// The root element alone would open in quirks mode, where a page laid out
// for standards mode looks different (heights, table fonts, picture gaps):
// a document that was in standards mode gets the declaration that keeps it
// there. A browser side that cannot tell leaves the page as it was.
std::string StandardsModeDeclaration(const Variant& Document) {
    try {
        if (Document.Get("compatMode").ToText() == "CSS1Compat")
            return "<!DOCTYPE html>\n";
    } catch (const DispatchError&) {
    }
    return {};
}

// Writes one document and adds its style sheets and icon; the document's
// address is read only when needed, after the file is written.
template <typename BaseFn>
void SaveDocument(TLister& List, const Variant& Document, const std::string& Path, BaseFn Base) {
    std::string markup;
    if (!RootMarkup(Document, markup))
        return;
    WriteFileAtomically(
        Path, EncodeDocumentMarkup(StandardsModeDeclaration(Document) + MakeScriptsInert(markup),
                                   Document.Get("characterSet").ToText()));

    List.GatherFromPage(markup, Base(), {.Images = false, .Frames = false});
}

} // namespace

void SaveDocumentPages(TLister& List, const Variant& BrowserWindow) {
    SaveDocument(List, BrowserWindow.Get("parent").Get("document"), OutputFolder + "INDEX.HTML",
                 [] { return StartPageURL; });

    std::string unread;
    const Variant frames = BrowserWindow.Get("parent").Get("frames");
    const std::int64_t count = frames.Get("Length").ToInteger();
    for (std::int64_t i = 0; i < count; ++i) {
        // A frame that appeared after the list was made has no item of its
        // own (the next page may be a link): it is left out.
        const std::size_t item = static_cast<std::size_t>(i) + 1;
        if (item >= List.Pages().size() || List.Pages()[item].State != stFromDocument)
            break;
        // A frame the browser side cannot read is left on the server (the
        // copy's frame keeps its address), and the other frames are saved.
        const std::optional<Variant> document = FrameDocument(frames.Call("Item", {Variant(i)}));
        if (!document) {
            List.SetStateOf(phPages, item, stSkipped);
            unread += (unread.empty() ? "" : ", ") + List.Pages()[item].URL;
            continue;
        }
        SaveDocument(List, *document, OutputFolder + List.Pages()[item].FileName,
                     [&] { return document->Get("URL").ToText(); });
    }
    if (!unread.empty())
        throw DispatchError("the browser could not read the frame " + unread +
                            ", so the copy shows it from the server");
}

} // namespace larkspool
