#pragma once

// What a save actually stored, for its summary: the item states say what
// the run meant to store, the folder says what is there. The pages written
// from the browser (the start page, its frames) count only when this run
// replaced their file, so a copy left by an earlier save is not mistaken for
// this one's.

#include "lister/Lister.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace larkspool {

struct StoredCounts {
    int Saved = 0;
    int Skipped = 0;
    int NotFetched = 0;
    int NotStored = 0; // fetched or read, but its file is not in the folder
    int ToBrowser = 0;
    bool StartPageStored = false;
};

class StoredFiles {
public:
    // Notes the files of the pages to be written from the browser, as they
    // are in Folder (which ends with "/") before the run.
    StoredFiles(const TLister& List, std::string Folder);

    StoredCounts Count(const TLister& List) const;

private:
    struct Identity {
        std::uint64_t Device = 0, Inode = 0;
        bool operator==(const Identity&) const = default;
    };
    std::optional<Identity> RegularFile(const std::string& Name) const;

    std::string FFolder;
    // By page: whether it is written from the browser, and its file before the run.
    struct Before {
        bool FromBrowser = false;
        std::optional<Identity> File;
    };
    std::vector<Before> FBefore;
};

} // namespace larkspool
