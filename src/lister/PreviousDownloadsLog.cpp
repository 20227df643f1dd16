#include "lister/PreviousDownloadsLog.h"

#include "lister/LocalNames.h"

#include <algorithm>

namespace larkspool {

namespace {

constexpr std::size_t kURLWidth = 100;
constexpr std::size_t kFileNameWidth = 50;

std::string ReadField(std::string_view Record, std::size_t Offset, std::size_t Width) {
    const std::size_t length =
        std::min<std::size_t>(static_cast<unsigned char>(Record[Offset]), Width);
    return std::string(Record.substr(Offset + 1, length));
}

void WriteField(std::string& Out, std::string_view Text, std::size_t Width) {
    const std::size_t length = std::min(Text.size(), Width);
    Out += static_cast<char>(length);
    Out.append(Text.substr(0, length));
    Out.append(Width - length, '\0');
}

} // namespace

std::vector<TPreviousDownload> DecodePreviousDownloads(std::string_view Bytes) {
    std::vector<TPreviousDownload> records;
    records.reserve(Bytes.size() / PreviousDownloadRecordSize);
    for (std::size_t at = 0; Bytes.size() - at >= PreviousDownloadRecordSize;
         at += PreviousDownloadRecordSize) {
        const std::string_view record = Bytes.substr(at, PreviousDownloadRecordSize);
        records.push_back(
            {ReadField(record, 0, kURLWidth), ReadField(record, 1 + kURLWidth, kFileNameWidth)});
    }
    return records;
}

std::string EncodePreviousDownloads(const std::vector<TPreviousDownload>& Records) {
    std::string out;
    out.reserve(Records.size() * PreviousDownloadRecordSize);
    for (const TPreviousDownload& r : Records) {
        WriteField(out, r.URL, kURLWidth);
        WriteField(out, r.FileName, kFileNameWidth);
    }
    return out;
}

bool IsPlainLogFileName(std::string_view FileName) {
    return !FileName.empty() && FileName != "." && FileName != ".." &&
           FileName.find_first_of(std::string_view("/\\\0", 3)) == std::string_view::npos &&
           !IsReservedLocalName(FileName);
}

} // namespace larkspool
