#pragma once

// The previous-downloads log: "lkspl.log" in the output folder, a plain
// sequence of 152-byte records without header:
//   offset 0    1 byte    length of the address (0..100)
//   offset 1    100 bytes the address, cut to 100 bytes; the rest is zeros
//   offset 101  1 byte    length of the file name (0..50)
//   offset 102  50 bytes  the local file name, cut to 50 bytes; the rest is zeros
// The file is read from disk and so is untrusted: a length byte larger than
// its field is taken as the field's width, and a trailing part shorter than a
// record is ignored.

#include "lister/ListerTypes.h"

#include <string>
#include <string_view>
#include <vector>

namespace larkspool {

inline constexpr std::string_view PreviousDownloadsLogName = "lkspl.log";
inline constexpr std::size_t PreviousDownloadRecordSize = 152;

std::vector<TPreviousDownload> DecodePreviousDownloads(std::string_view Bytes);
std::string EncodePreviousDownloads(const std::vector<TPreviousDownload>& Records);

// Whether a logged file name can name a file of the output folder itself: not
// empty, not "." or "..", without "/", "\" or a zero byte, and not one of the
// program's own files (the log, the folder lock).
bool IsPlainLogFileName(std::string_view FileName);

} // namespace larkspool
