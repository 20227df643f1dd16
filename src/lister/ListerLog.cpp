// The download list's use of the previous-downloads log: taking over what an
// earlier save into the same folder stored.
#include "lister/Lister.h"
#include "lister/PreviousDownloadsLog.h"
#include "platform/AtomicFile.h"
#include "tools/ProcessValues.h"
#include "tools/Settings.h"

#include <sys/stat.h>

namespace larkspool {

namespace {

std::string LogPath() {
    return OutputFolder + std::string(PreviousDownloadsLogName);
}

bool PathExists(const std::string& Path) {
    struct stat info {};
    return ::lstat(Path.c_str(), &info) == 0;
}

} // namespace

// The log is read from disk: only a plain name of the output folder itself
// can stand for a file that the earlier save stored.
bool TLister::LoggedFileExists(const TPreviousDownload& Record) const {
    return IsPlainLogFileName(Record.FileName) && IsFileInOutputFolder(Record.FileName);
}

void TLister::LoadPreviousDownloads() {
    const std::string path = LogPath();
    if (!PathExists(path))
        return;
    std::vector<TPreviousDownload> records = DecodePreviousDownloads(ReadWholeFile(path));
    FPreviousDownloads.insert(FPreviousDownloads.end(), std::make_move_iterator(records.begin()),
                              std::make_move_iterator(records.end()));
}

void TLister::SavePreviousDownloads() {
    std::vector<TPreviousDownload> records;
    for (const std::vector<TListerItem>* list : {&FPages, &FPictures, &FStylesheets})
        for (const TListerItem& item : *list)
            if (item.State == stSavedText)
                records.push_back({item.URL, item.FileName});
    WriteFileAtomically(LogPath(), EncodePreviousDownloads(records));
}

// A logged name that another item of this save already carries is passed
// over: taking it would make two items share one file.
bool TLister::FindPreviousDownload() {
    if (!Settings.SaveExistF || FPreviousDownloads.empty())
        return false;
    const std::string url = CurrentURL();
    const TNameIndex::Place current{FPhase, static_cast<std::size_t>(IndexOf(FPhase))};
    for (const TPreviousDownload& record : FPreviousDownloads) {
        if (record.URL != url || !LoggedFileExists(record) ||
            FNames.CarriedByOther(record.FileName, current))
            continue;
        SetCurrentFileName(record.FileName);
        return true;
    }
    return false;
}

} // namespace larkspool
