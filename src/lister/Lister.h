#pragma once

// The download list: every page, picture and style sheet of one save, with
// its address, display text, local file name and state.
//
// Three lists (pages, pictures, style sheets) are walked by one cursor in that
// order of phases, never backwards. A search for the next item to download
// starts on the current item itself, so FindNext finds the current item again
// unless its state was changed first. Pages[0] is the main page
// ("INDEX.HTML"), Pages[1..F] its frames in frame order, then the checked
// links. Items are never removed or reordered.
//
// The list reads the process-wide Settings and OutputFolder; both must be in
// place before it is created.

#include "browser/Variant.h"
#include "lister/ListerTypes.h"
#include "lister/LocalNames.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace larkspool {

// A frame window's document, or nothing when the browser side cannot read
// it (a frame it cannot reach); the frame is still listed by its location.
std::optional<Variant> FrameDocument(const Variant& Frame);

class TLister {
public:
    // Builds the lists from the browser window's documents: main page, its
    // frames, their pictures; reads the previous-downloads log. A failing
    // browser call raises, and no list is made; a log that cannot be read is
    // left aside (see LogProblem).
    explicit TLister(const Variant& Window);
    TLister(const TLister&) = delete;
    TLister& operator=(const TLister&) = delete;

    // Adders; refused addresses are dropped silently.
    void AddLink(const std::string& Address, const std::string& Title);
    void AddPicture(const std::string& Address);
    void AddStylesheet(const std::string& Address);
    // What copies need beyond the three: a page of a frame or iframe (its
    // own frames are not followed), a script, and what a style sheet names
    // (an imported sheet, followed up to MaxImportDepth, or a font or
    // picture). Each joins its list once, like the others; scripts and style
    // files only when the settings ask for them.
    void AddFramePage(const std::string& Address);
    void AddScript(const std::string& Address);
    void AddStyleFile(const std::string& Address, bool Import, int Depth);
    static constexpr int MaxImportDepth = 8;
    static constexpr int MaxImportedSheets = 500;

    // A local name that no item carries, made from the proposed one.
    std::string MakeUniqueName(std::string_view Name);

    // Cursor.
    bool FindFirst();
    bool FindNext();
    void ResetToPages();
    int Count() const;
    int CurrentIndex() const;
    TListerPhase Phase() const { return FPhase; }
    std::string PhaseCaption() const;

    // The current item.
    std::string CurrentURL() const;
    std::string CurrentTitle() const;
    std::string CurrentFileName() const;
    TItemState CurrentState() const;
    void SetCurrentState(TItemState State);
    void SetCurrentFileName(const std::string& Name);
    void RenameCurrentAsHtml();
    void RenameCurrentAfterRedirect(const std::string& NewAddress);
    void ScanCurrentPage();
    bool FindPreviousDownload();

    // By index in the current phase's list.
    TItemState StateAt(int Index) const;
    void SetStateAt(int Index, TItemState State);
    std::string URLAt(int Index) const;

    // The previous-downloads log in the output folder.
    void LoadPreviousDownloads();
    void SavePreviousDownloads();
    // Why the log was not read (a link, a FIFO, a device, too large...), as
    // a sentence for the user; empty when it was read or there was none.
    const std::string& LogProblem() const { return FLogProblem; }

    // A link value found in a saved page, made absolute against Base (the
    // current page's address when empty) and mapped through the log of an
    // earlier save; empty for a value that does not lead to the web.
    std::string ResolveScannedLink(std::string_view Value, std::string_view Base = {}) const;
    // As ResolveScannedLink, for an address found inside an attribute or a
    // style sheet (a srcset candidate, a CSS url()), written without quotes.
    std::string ResolveScannedText(std::string_view Text, std::string_view Base) const;
    // Adds the style sheets, icons, pictures, scripts, and the files their
    // style attributes and elements name, that the page Text at PageURL
    // refers to, its <base> honoured. The browser's own documents leave out
    // <img src> (their pictures come from the browser) and frames (the
    // browser lists them); so does a frame page for frames.
    struct PageGathering {
        bool Images = true;
        bool Frames = true;
    };
    void GatherFromPage(const std::string& Text, std::string_view PageURL, PageGathering What);
    void GatherFromPage(const std::string& Text, std::string_view PageURL) {
        GatherFromPage(Text, PageURL, PageGathering{});
    }
    // Adds what the style sheet Css at SheetURL names; Depth is its own
    // @import depth.
    void GatherFromStyleSheet(std::string_view Css, std::string_view SheetURL, int Depth);

    // Filters, as the adders apply them.
    bool IsNewPage(const std::string& Address) const;
    bool IsNewStylesheet(const std::string& Address) const;
    bool AcceptPicture(const std::string& Address) const;
    bool PassesPictureFilters(const std::string& Address) const;
    bool HasListedExtension(const std::string& Address) const;

    // Read-only views for the page operations and the run.
    const std::vector<TListerItem>& Pages() const { return FPages; }
    const std::vector<TListerItem>& Pictures() const { return FPictures; }
    const std::vector<TListerItem>& Stylesheets() const { return FStylesheets; }
    const std::vector<TPreviousDownload>& PreviousDownloads() const { return FPreviousDownloads; }
    const std::string& PageURL() const { return FPageURL; }
    // Indexes, in list order, of the items of a phase's list with exactly
    // this URL (URLs never change, so the index is kept as items are added).
    const std::vector<std::size_t>& ItemsWithURL(TListerPhase Phase, const std::string& URL) const;
    // State of any item by its place.
    void SetStateOf(TListerPhase Phase, std::size_t Index, TItemState State);
    // Moves the cursor one item on in the current phase; false at the end.
    bool StepCurrentIndex();

private:
    std::vector<TListerItem>& ListOf(TListerPhase Phase);
    const std::vector<TListerItem>& ListOf(TListerPhase Phase) const;
    int& IndexOf(TListerPhase Phase);
    int IndexOf(TListerPhase Phase) const;
    bool Search();
    TListerItem& Current();
    const TListerItem& Current() const;
    void Append(TListerPhase Phase, TListerItem Item);
    void Rename(TListerPhase Phase, std::size_t Index, std::string Name);
    bool LoggedFileExists(const TPreviousDownload& Record) const;
    std::string MapThroughLog(std::string_view LocalName, std::string Resolved) const;
    void AddToStylesheets(const std::string& Address, ItemRole Role, int Depth);
    TListerItem ItemWithoutFragment(const std::string& Address);

    std::int32_t FCounter = 0;
    int FImportedSheets = 0; // style sheets added by @import
    std::vector<std::string> FExtensions;
    std::vector<std::string> FKeywords;
    std::string FPageURL;
    std::vector<TListerItem> FPages;
    std::vector<TListerItem> FPictures;
    std::vector<TListerItem> FStylesheets;
    std::vector<TPreviousDownload> FPreviousDownloads;
    std::string FLogProblem;
    int FPageIndex = 0;
    int FPictureIndex = 0;
    int FStylesheetIndex = 0;
    TListerPhase FPhase = phPages;
    NameIndex FNames; // who carries which FileName, for the clash pass
    std::unordered_map<std::string, std::vector<std::size_t>> FURLs[3]; // by phase
};

} // namespace larkspool
