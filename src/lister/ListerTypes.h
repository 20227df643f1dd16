#pragma once

// The records of the download list.

#include <cstdint>
#include <string>

namespace larkspool {

// Where an item stands; the numbering is fixed.
enum TItemState : std::uint8_t {
    stFromDocument = 0,    // main page or frame: written from the browser's document
    stToDownload = 1,      // waiting to be fetched
    stToBrowser = 2,       // listed extension, to be handed to the browser
    stNotToDownload = 3,   // listed extension, not to be fetched at all
    stSavedText = 4,       // stored, content type text (scanned, logged)
    stHandedToBrowser = 5, // the browser was sent to its address
    stSkipped = 6,         // skipped by the user or the auto-skip timer
    stRelinked = 7,        // page whose links were rewritten
    stSavedOther = 8,      // stored, content type not text
};

// Which of the three lists the cursor walks.
enum TListerPhase : std::uint8_t {
    phPages = 0,
    phPictures = 1,
    phStylesheets = 2,
};

// What an item is where its list alone does not say; decides whether its
// stored file is read for more files, and how.
enum class ItemRole : std::uint8_t {
    Plain,      // a page, picture or link-tag target
    StyleSheet, // read for url() and @import
    StyleFile,  // a font, picture or cursor that style sheets name
    Script,
    FramePage, // shown in a frame or iframe of a downloaded page: its own frames are not followed
};

struct TListerItem {
    std::string URL;      // absolute address; never changes after the item is added
    std::string Title;    // link text or document title; empty for pictures and style sheets
    std::string FileName; // local name inside the output folder, no folder part
    TItemState State = stToDownload;
    ItemRole Role = ItemRole::Plain;
    std::uint8_t Depth = 0; // of a style sheet: how many @import steps from a page
};

// One record of the previous-downloads log.
struct TPreviousDownload {
    std::string URL;
    std::string FileName;
};

} // namespace larkspool
