#include "html/Relinker.h"

#include "html/Replacements.h"
#include "html/StoredItems.h"
#include "html/StyleRelinker.h"
#include "platform/AtomicFile.h"
#include "scanner/HtmlParser.h"
#include "scanner/PageAddresses.h"
#include "tools/ProcessValues.h"
#include "tools/UrlHelpers.h"

#include <sys/stat.h>

namespace larkspool {

namespace {

// Pages matched by SameURL: the link without its fragment, or with a "/"
// added when it has none.
long LastPageMatch(const TLister& List, const std::string& Link, bool SkipSkipped) {
    const std::string bare = StripFragment(Link);
    std::vector<const std::string*> urls{&bare};
    const std::string slashed = bare + "/";
    if (bare.empty() || bare.back() != '/')
        urls.push_back(&slashed);
    return LastMatch(
        List, phPages, urls,
        SkipSkipped ? [](TItemState s) { return s != stToDownload && s != stSkipped; }
                    : [](TItemState s) { return s != stToDownload; });
}

std::string AnchorValue(const TLister& List, std::string_view Value, const std::string& L) {
    const long match = LastPageMatch(List, L, false);
    if (match < 0)
        return IsFileInOutputFolder(QuotedLocalName(Value)) ? std::string(Value)
                                                            : NotSelectedReplacement(L);
    const TListerItem& item = List.Pages()[static_cast<std::size_t>(match)];
    switch (item.State) {
    case stSkipped:
        return SkippedReplacement(item.URL);
    case stToBrowser:
    case stHandedToBrowser:
        return ToBrowserReplacement(item.URL);
    case stNotToDownload:
        return NotToDownloadReplacement(item.URL);
    default:
        return LocalReplacement(item.FileName, FragmentOf(L));
    }
}

// A picture, style sheet or frame that was not stored: a relative value
// would name nothing in the flat folder, so it points at the server instead;
// unless it is a local name an earlier relinking wrote (a page taken over).
std::string NotStoredValue(std::string_view Value, const std::string& Text, const std::string& L) {
    const bool relative = SchemeOf(Text).empty() && !IsFileInOutputFolder(QuotedLocalName(Value));
    return relative && !L.empty() ? ServerReplacement(L) : std::string(Value);
}

std::string StoredItemValue(const TLister& List, TListerPhase Phase, std::string_view Value,
                            const std::string& Text, const std::string& L) {
    const long match = LastMatch(List, Phase, {&L}, IsStored);
    if (match < 0)
        return NotStoredValue(Value, Text, L);
    const auto& items = Phase == phPictures ? List.Pictures() : List.Stylesheets();
    return LocalReplacement(items[static_cast<std::size_t>(match)].FileName);
}

// Base is where the page's relative addresses start (its <base>, or its own
// address).
std::string NewValue(const TLister& List, const std::string& Base, TTagKind Kind,
                     std::string_view Value) {
    // Lists of addresses: each is resolved on its own.
    if (Kind == tkSrcset)
        return RelinkSrcset(List, Value, Base);
    if (Kind == tkStyle)
        return RelinkStyleAttribute(List, Value, Base);
    if (Kind == tkStyleText)
        return RelinkCss(List, Value, Base);
    const std::string text = LinkText(Value);
    const std::string L = ResolveLink(Base, text);
    switch (Kind) {
    case tkAnchor:
        return IsWebLink(text) ? AnchorValue(List, Value, L) : std::string(Value);
    case tkFrame: {
        const long match = LastPageMatch(List, L, true);
        return match < 0 ? NotStoredValue(Value, text, L)
                         : LocalReplacement(List.Pages()[static_cast<std::size_t>(match)].FileName,
                                            FragmentOf(L));
    }
    case tkImage:
    case tkIcon:
    case tkPicture:
        return StoredItemValue(List, phPictures, Value, text, L);
    case tkLink:
    case tkScript:
        return StoredItemValue(List, phStylesheets, Value, text, L);
    case tkPreload:
        // Fetched ahead for a use elsewhere in the page or its sheets: the
        // file stored for that use, if any.
        if (const TListerItem* item = StoredFile(List, L))
            return LocalReplacement(item->FileName);
        return NotStoredValue(Value, text, L);
    case tkBase:
        // Offline, every local reference is a bare name beside the page.
        return "\"\"";
    case tkSrcset:
    case tkStyle:
    case tkStyleText:
    case tkText:
        break;
    }
    return {};
}

} // namespace

bool SameURL(std::string_view ItemURL, std::string_view LinkURL) {
    std::string link = StripFragment(LinkURL);
    if (!ItemURL.empty() && ItemURL.back() == '/' && (link.empty() || link.back() != '/'))
        link += '/';
    return ItemURL == link;
}

bool RelinkNext(TLister& List) {
    while (List.CurrentIndex() < List.Count()) {
        const TItemState state = List.CurrentState();
        if (state == stFromDocument || state == stSavedText) {
            RelinkPage(List);
            List.SetCurrentState(stRelinked);
            return true;
        }
        if (!List.StepCurrentIndex())
            return false;
    }
    return false;
}

void RelinkPage(TLister& List) {
    const std::string path = OutputFolder + List.CurrentFileName();
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return;
    THTMLParser parser = THTMLParser::CreateFromFile(path);
    const ScannedPage scanned = ScanPage(parser, List.CurrentURL());
    std::string page;
    page.reserve(static_cast<std::size_t>(info.st_size) + 4096);
    bool changed = false;
    for (const PageChunk& chunk : scanned.Chunks) {
        page += chunk.Before;
        if (chunk.Kind == tkText)
            continue;
        const std::string value = NewValue(List, scanned.Base, chunk.Kind, chunk.Value);
        changed = changed || value != chunk.Value;
        page += value;
    }
    if (changed)
        WriteFileAtomically(path, page, info.st_mode & 07777);
}

} // namespace larkspool
