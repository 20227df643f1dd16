#pragma once

// Reading a file that a hostile folder may have replaced by something else:
// only a regular file is read, and only up to a size the caller chooses, so a
// symbolic link is never followed, a FIFO never blocks the open or the read,
// and a device such as /dev/zero never fills the memory.

#include <cstddef>
#include <optional>
#include <stdexcept>
#include <string>

namespace larkspool {

// Why a file was not read; what() is a sentence that names the file.
class RegularFileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The whole of Path; nothing when no file of that name exists. Throws
// RegularFileError when Path is a symbolic link, not a regular file, larger
// than MaxBytes, or cannot be read.
std::optional<std::string> ReadRegularFile(const std::string& Path, std::size_t MaxBytes);

} // namespace larkspool
