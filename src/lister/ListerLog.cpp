// The download list's use of the previous-downloads log: taking over what an
// earlier save into the same folder stored.
#include "lister/Lister.h"
#include "lister/PreviousDownloadsLog.h"
#include "platform/AtomicFile.h"
#include "platform/RegularFile.h"
#include "tools/ProcessValues.h"
#include "tools/Settings.h"

namespace larkspool {

namespace {

std::string LogPath() {
    return OutputFolder + std::string(PreviousDownloadsLogName);
}

// A save stores one 152-byte record per text item, so 32 MiB holds over
// 200,000 of them: far more than any save makes, while reading and decoding
// that much costs only some tens of MB and a fraction of a second. Anything
// larger is not a log this program wrote.
constexpr std::size_t kMaxLogBytes = std::size_t(32) << 20;

} // namespace

// The log is read from disk: only a plain name of the output folder itself
// can stand for a file that the earlier save stored.
bool TLister::LoggedFileExists(const TPreviousDownload& Record) const {
    return IsPlainLogFileName(Record.FileName) && IsFileInOutputFolder(Record.FileName);
}

// Only a regular file of bounded size is read: the folder may hold a link to
// /dev/zero or to a file outside, a FIFO or a folder under the log's name. A
// log that is not read costs only the taking over of an earlier save's
// files, so the save goes on without it and the reason is kept for the
// user.
void TLister::LoadPreviousDownloads() {
    std::optional<std::string> bytes;
    try {
        bytes = ReadRegularFile(LogPath(), kMaxLogBytes);
    } catch (const RegularFileError& e) {
        FLogProblem = std::string("The previous-downloads log ") + e.what() +
                      "; nothing is taken over from an earlier save";
        return;
    }
    if (!bytes)
        return;
    std::vector<TPreviousDownload> records = DecodePreviousDownloads(*bytes);
    FPreviousDownloads.insert(FPreviousDownloads.end(), std::make_move_iterator(records.begin()),
                              std::make_move_iterator(records.end()));
}

// Written to a new file renamed over the old name: a link planted as the
// log is replaced, never written through.
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
    const NameIndex::Place current{FPhase, static_cast<std::size_t>(IndexOf(FPhase))};
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
