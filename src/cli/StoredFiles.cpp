#include "cli/StoredFiles.h"

#include "tools/Settings.h"

#include <sys/stat.h>

namespace larkspool {

StoredFiles::StoredFiles(const TLister& List, std::string Folder) : FFolder(std::move(Folder)) {
    for (const TListerItem& item : List.Pages()) {
        const bool fromBrowser = item.State == stFromDocument;
        FBefore.push_back({fromBrowser, fromBrowser ? RegularFile(item.FileName) : std::nullopt});
    }
}

// A file replaced by writing a new one and renaming it over the old one has
// a new inode, so the identity tells whether the run wrote it.
std::optional<StoredFiles::Identity> StoredFiles::RegularFile(const std::string& Name) const {
    struct stat info {};
    if (Name.empty() || ::lstat((FFolder + Name).c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return std::nullopt;
    return Identity{static_cast<std::uint64_t>(info.st_dev),
                    static_cast<std::uint64_t>(info.st_ino)};
}

StoredCounts StoredFiles::Count(const TLister& List) const {
    StoredCounts counts;
    for (const auto* items : {&List.Pages(), &List.Pictures(), &List.Stylesheets()})
        for (std::size_t i = 0; i < items->size(); ++i) {
            const TListerItem& item = (*items)[i];
            switch (item.State) {
            case stFromDocument:
            case stSavedText:
            case stSavedOther:
            case stRelinked: {
                const std::optional<Identity> now = RegularFile(item.FileName);
                const bool fromBrowser =
                    items == &List.Pages() && i < FBefore.size() && FBefore[i].FromBrowser;
                const bool stored = now && !(fromBrowser && FBefore[i].File == now);
                ++(stored ? counts.Saved : counts.NotStored);
                if (items == &List.Pages() && i == 0)
                    counts.StartPageStored = stored;
                break;
            }
            case stSkipped:
                ++counts.Skipped;
                break;
            case stToDownload:
                // pictures are gathered but not fetched when they are turned off
                if (items != &List.Pictures() || Settings.ShowPictures)
                    ++counts.NotFetched;
                break;
            case stToBrowser:
            case stHandedToBrowser:
                ++counts.ToBrowser;
                break;
            default:
                break;
            }
        }
    return counts;
}

} // namespace larkspool
