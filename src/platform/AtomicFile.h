#pragma once

// Replacing a file so that a crash or a full disk never leaves it shortened:
// the new content goes to a temporary file in the same folder, is flushed to
// disk, and is then renamed over the old file in one step.

#include <string>
#include <string_view>
#include <sys/types.h>

namespace larkspool {

// Writes Content as the whole of Path. Throws std::system_error naming Path
// and the system's reason; on failure the old file, if any, is left as it was
// and no temporary file remains. Mode gives the new file's permissions.
void WriteFileAtomically(const std::string& Path, std::string_view Content, mode_t Mode = 0644);

// The whole file as bytes; std::system_error naming Path when it cannot be read.
std::string ReadWholeFile(const std::string& Path);

} // namespace larkspool
