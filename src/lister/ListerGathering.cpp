// What goes into the download list: the browser's documents, the checked
// links, and the pictures and style sheets of saved pages.
#include "platform/AtomicFile.h"
#include "scanner/CssReferences.h"
#include "scanner/HtmlParser.h"
#include "scanner/PageAddresses.h"
#include "scanner/Srcset.h"

#include "lister/Lister.h"
#include "lister/PreviousDownloadsLog.h"
#include "platform/AsciiText.h"
#include "tools/ProcessValues.h"
#include "tools/Settings.h"
#include "tools/UrlHelpers.h"
#include "tools/Words.h"

#include <algorithm>
#include <optional>

namespace larkspool {

namespace {

std::vector<std::string> LowerWords(const std::string& Text) {
    std::vector<std::string> words;
    const std::size_t count = CountWords(Text, " ");
    words.reserve(count);
    for (std::size_t i = 1; i <= count; ++i)
        words.push_back(LowerAscii(NthWord(static_cast<int>(i), Text, " ")));
    return words;
}

} // namespace

std::optional<Variant> FrameDocument(const Variant& Frame) {
    try {
        return Frame.Get("document");
    } catch (const DispatchError&) {
        return std::nullopt;
    }
}

TLister::TLister(const Variant& Window) {
    FPhase = phPages;
    FPageURL = Window.Get("parent").Get("document").Get("location").ToText();
    FKeywords = LowerWords(Settings.KeyWords);
    FExtensions = LowerWords(Settings.Extensions);

    // The browser's collections are read afresh at each step, as they are at
    // that moment.
    const auto frames = [&] { return Window.Get("parent").Get("frames"); };
    const std::int64_t capacity = 1 +
                                  Window.Get("document").Get("links").Get("Length").ToInteger() +
                                  frames().Get("Length").ToInteger();
    FPages.reserve(static_cast<std::size_t>(std::clamp<std::int64_t>(capacity, 1, 1 << 20)));

    Append(phPages, {FPageURL, Window.Get("parent").Get("document").Get("Title").ToText(),
                     "INDEX.HTML", stFromDocument});

    const std::int64_t frameCount = frames().Get("Length").ToInteger();
    for (std::int64_t i = 0; i < frameCount; ++i) {
        const Variant frame = frames().Call("Item", {Variant(i)});
        TListerItem item;
        item.URL = frame.Get("location").ToText();
        // A frame the browser side cannot read is listed by its address all
        // the same; writing the frames leaves it on the server and says so.
        if (const std::optional<Variant> document = FrameDocument(frame))
            item.Title = document->Get("Title").ToText();
        item.FileName = MakeUniqueName(FileNameOf(item.URL));
        item.State = stFromDocument;
        Append(phPages, std::move(item));
    }

    LoadPreviousDownloads();

    const auto addPicturesOf = [&](const Variant& Document) {
        const std::int64_t count = Document.Get("Images").Get("Length").ToInteger();
        for (std::int64_t j = 0; j < count; ++j)
            AddPicture(Document.Get("Images").Call("Item", {Variant(j)}).Get("src").ToText());
    };
    addPicturesOf(Window.Get("parent").Get("document"));
    for (std::int64_t i = 0; i < frames().Get("Length").ToInteger(); ++i)
        if (const std::optional<Variant> document =
                FrameDocument(frames().Call("Item", {Variant(i)})))
            addPicturesOf(*document);
}

// A new item to download for Address without its fragment, named after it.
TListerItem TLister::ItemWithoutFragment(const std::string& Address) {
    TListerItem item;
    item.URL = StripFragment(Address);
    item.FileName = MakeUniqueName(FileNameOf(item.URL));
    item.State = stToDownload;
    return item;
}

void TLister::AddLink(const std::string& Address, const std::string& Title) {
    if (Address.empty())
        return;
    TListerItem item = ItemWithoutFragment(Address);
    item.Title = Title;
    if (Settings.DoWithExtensions > 0 && HasListedExtension(item.URL)) {
        if (Settings.DoWithExtensions == 1)
            item.State = stToBrowser;
        else if (Settings.DoWithExtensions == 2)
            item.State = stNotToDownload;
    }
    if (IsNewPage(item.URL))
        Append(phPages, std::move(item));
}

void TLister::AddPicture(const std::string& Address) {
    if (Address.empty())
        return;
    TListerItem item{Address, "", MakeUniqueName(FileNameOf(Address)), stToDownload};
    if (AcceptPicture(item.URL))
        Append(phPictures, std::move(item));
}

void TLister::AddStylesheet(const std::string& Address) {
    AddToStylesheets(Address, ItemRole::StyleSheet, 0);
}

void TLister::AddToStylesheets(const std::string& Address, ItemRole Role, int Depth) {
    if (Address.empty())
        return;
    TListerItem item = ItemWithoutFragment(Address);
    item.Role = Role;
    item.Depth = static_cast<std::uint8_t>(Depth);
    if (IsNewStylesheet(item.URL))
        Append(phStylesheets, std::move(item));
}

void TLister::AddFramePage(const std::string& Address) {
    if (Address.empty())
        return;
    TListerItem item = ItemWithoutFragment(Address);
    item.Role = ItemRole::FramePage;
    if (IsNewPage(item.URL))
        Append(phPages, std::move(item));
}

void TLister::AddScript(const std::string& Address) {
    if (Settings.SaveScripts)
        AddToStylesheets(Address, ItemRole::Script, 0);
}

void TLister::AddStyleFile(const std::string& Address, bool Import, int Depth) {
    // Imported sheets are style sheets like the linked ones: always followed,
    // only not without end: neither deeper nor more of them than any real
    // site needs, whatever a server makes up.
    if (Import) {
        if (Depth < MaxImportDepth && FImportedSheets < MaxImportedSheets) {
            const std::size_t before = FStylesheets.size();
            AddToStylesheets(Address, ItemRole::StyleSheet, Depth + 1);
            FImportedSheets += FStylesheets.size() > before ? 1 : 0;
        }
    } else if (Settings.SaveStyleFiles) {
        // A picture the page also shows is fetched once, as a picture; the
        // style sheets then name that file.
        if (Settings.ShowPictures && !ItemsWithURL(phPictures, Address).empty())
            return;
        AddToStylesheets(Address, ItemRole::StyleFile, Depth);
    }
}

// Only http and https addresses are fetched: a javascript:, data:, ftp: or
// file: address never joins the list (a data: picture then stays as it is in
// the copy, which shows it offline as well), and relinking leaves it alone.
bool TLister::IsNewPage(const std::string& Address) const {
    return IsNotMailto(Address) && IsHttpAddress(Address) && ItemsWithURL(phPages, Address).empty();
}

bool TLister::IsNewStylesheet(const std::string& Address) const {
    return IsNotMailto(Address) && IsHttpAddress(Address) &&
           ItemsWithURL(phStylesheets, Address).empty();
}

bool TLister::AcceptPicture(const std::string& Address) const {
    return IsHttpAddress(Address) && PassesPictureFilters(Address) &&
           ItemsWithURL(phPictures, Address).empty();
}

bool TLister::PassesPictureFilters(const std::string& Address) const {
    const std::string lower = LowerAscii(Address);
    if (Settings.NotExtPic && HostPartOf(lower) != HostPartOf(FPageURL))
        return false;
    if (Settings.NotKeyPic)
        for (const std::string& keyword : FKeywords)
            if (lower.find(keyword) != std::string::npos)
                return false;
    return true;
}

bool TLister::HasListedExtension(const std::string& Address) const {
    const std::string extension = LowerAscii(ExtensionOf(Address));
    return std::find(FExtensions.begin(), FExtensions.end(), extension) != FExtensions.end();
}

void TLister::ScanCurrentPage() {
    if (FPhase == phPages) {
        PageGathering what;
        what.Frames = Current().Role != ItemRole::FramePage;
        GatherFromPage(ReadWholeFile(OutputFolder + CurrentFileName()), CurrentURL(), what);
    } else if (FPhase == phStylesheets && Current().Role == ItemRole::StyleSheet) {
        GatherFromStyleSheet(ReadWholeFile(OutputFolder + CurrentFileName()), CurrentURL(),
                             Current().Depth);
    }
}

void TLister::GatherFromPage(const std::string& Text, std::string_view PageURL,
                             PageGathering What) {
    THTMLParser parser = THTMLParser::CreateFromText(Text.c_str());
    const ScannedPage page = ScanPage(parser, PageURL);
    for (const PageChunk& chunk : page.Chunks) {
        switch (chunk.Kind) {
        case tkLink:
            AddStylesheet(ResolveScannedLink(chunk.Value, page.Base));
            break;
        case tkImage:
            if (What.Images)
                AddPicture(ResolveScannedLink(chunk.Value, page.Base));
            break;
        case tkIcon:
        case tkPicture:
            AddPicture(ResolveScannedLink(chunk.Value, page.Base));
            break;
        case tkSrcset:
            for (const SrcsetCandidate& candidate : ParseSrcset(AttributeText(chunk.Value)))
                AddPicture(ResolveScannedText(candidate.Url, page.Base));
            break;
        case tkScript:
            AddScript(ResolveScannedLink(chunk.Value, page.Base));
            break;
        case tkFrame:
            if (What.Frames)
                AddFramePage(ResolveScannedLink(chunk.Value, page.Base));
            break;
        case tkStyle:
            GatherFromStyleSheet(AttributeText(chunk.Value), page.Base, 0);
            break;
        case tkStyleText:
            GatherFromStyleSheet(chunk.Value, page.Base, 0);
            break;
        case tkAnchor:
        case tkBase:
        case tkPreload:
        case tkText:
            break;
        }
    }
}

void TLister::GatherFromStyleSheet(std::string_view Css, std::string_view SheetURL, int Depth) {
    for (const CssReference& reference : FindCssReferences(Css))
        AddStyleFile(ResolveScannedText(reference.Text, SheetURL), reference.Import, Depth);
}

std::string TLister::ResolveScannedLink(std::string_view Value, std::string_view Base) const {
    const std::string text = LinkText(Value);
    // "data:..." would otherwise be resolved into an address on the server.
    if (!IsWebLink(text))
        return {};
    std::string result = ResolveLink(Base.empty() ? CurrentURL() : Base, text);
    // Pages taken over from an earlier save carry the local names that its
    // relinking wrote, in double quotes.
    if (Value.size() < 2 || Value.front() != '"' || Value.back() != '"')
        return result;
    return MapThroughLog(Value.substr(1, Value.size() - 2), std::move(result));
}

std::string TLister::ResolveScannedText(std::string_view Text, std::string_view Base) const {
    const std::string text(TrimBlanks(Text));
    if (text.empty() || !IsWebLink(text))
        return {};
    return MapThroughLog(text, ResolveLink(Base.empty() ? CurrentURL() : Base, text));
}

// A local name that an earlier save's relinking wrote stands for what the log
// says it does; Resolved is what it would be as an ordinary relative link.
std::string TLister::MapThroughLog(std::string_view LocalName, std::string Resolved) const {
    if (!Settings.SaveExistF || LocalName.empty())
        return Resolved;
    for (const TPreviousDownload& record : FPreviousDownloads) {
        if (LocalName != record.FileName)
            continue;
        return LoggedFileExists(record) ? std::string() : record.URL;
    }
    // Such a name of a file that is already there (a picture of the earlier
    // save, which the log does not list) is not fetched again: fetched from
    // the wrong address, it would replace that file.
    if (IsFileInOutputFolder(QuotedLocalName("\"" + std::string(LocalName) + "\"")))
        return {};
    return Resolved;
}

} // namespace larkspool
