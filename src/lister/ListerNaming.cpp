// Local names of the download list's items.
#include "lister/Lister.h"
#include "tools/UrlHelpers.h"

#include <string>

namespace larkspool {

// The clash pass compares the name with every item's FileName in list order
// (pages, pictures, style sheets) and puts the counter in front at each match.
// It is repeated until a whole pass meets no item, so no two items ever share
// a file. The program's own files (log, lock) count as taken, and "." or
// ".." as empty, so every name is a plain file of the output folder. Every
// name, prefixed ones too, is cut to the file system's limit (its extension
// kept); a cut name goes through the pass again like any other.
std::string TLister::MakeUniqueName(std::string_view Name) {
    std::string name = FitLocalName(CleanLocalName(Name));
    if (name.empty() || name == "." || name == "..")
        name = "f" + std::to_string(FCounter++);
    if (IsReservedLocalName(name))
        name = std::to_string(FCounter++) + name;

    for (bool clashed = true; clashed;) {
        clashed = false;
        NameIndex::Place from{phPages, 0};
        NameIndex::Place found;
        while (FNames.FindFrom(name, from, found)) {
            name = FitLocalName(std::to_string(FCounter++) + name);
            clashed = true;
            from = {found.first, found.second + 1};
        }
    }
    return name;
}

void TLister::RenameCurrentAsHtml() {
    if (FPhase != phPages)
        return;
    const std::string name = MakeUniqueName(Current().FileName + ".htm");
    Rename(FPhase, static_cast<std::size_t>(FPageIndex), name);
}

void TLister::RenameCurrentAfterRedirect(const std::string& NewAddress) {
    Current();
    const std::string name = MakeUniqueName(FileNameOf(NewAddress));
    Rename(FPhase, static_cast<std::size_t>(IndexOf(FPhase)), name);
}

} // namespace larkspool
