#include "platform/RegularFile.h"

#include "platform/Descriptors.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace larkspool {

namespace {

[[noreturn]] void Refuse(const std::string& Path, const std::string& Why) {
    throw RegularFileError("\"" + Path + "\" was not read: " + Why);
}

} // namespace

std::optional<std::string> ReadRegularFile(const std::string& Path, std::size_t MaxBytes) {
    // O_NOFOLLOW refuses a link in the last step of the path; O_NONBLOCK lets
    // the open of a FIFO return at once (it changes nothing for a regular
    // file); the type is then taken from the opened descriptor itself, so
    // nothing can be swapped in between the test and the read.
    const UniqueFd fd(::open(Path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    if (fd.Get() < 0) {
        const int error = errno;
        if (error == ENOENT)
            return std::nullopt;
        if (error == ELOOP) {
            struct stat info {};
            if (::lstat(Path.c_str(), &info) == 0 && S_ISLNK(info.st_mode))
                Refuse(Path, "it is a symbolic link");
        }
        Refuse(Path, std::strerror(error));
    }
    struct stat info {};
    if (::fstat(fd.Get(), &info) != 0)
        Refuse(Path, std::strerror(errno));
    if (!S_ISREG(info.st_mode))
        Refuse(Path, S_ISDIR(info.st_mode) ? "it is a folder" : "it is not a regular file");
    if (static_cast<std::size_t>(info.st_size) > MaxBytes)
        Refuse(Path, "it is larger than " + std::to_string(MaxBytes) + " bytes");

    // The file may grow while it is read: the bound holds for what is read,
    // not only for the size seen before.
    std::string bytes;
    bytes.reserve(static_cast<std::size_t>(info.st_size));
    if (!ReadToEnd(fd.Get(), bytes, MaxBytes))
        Refuse(Path, std::strerror(errno));
    if (bytes.size() > MaxBytes)
        Refuse(Path, "it is larger than " + std::to_string(MaxBytes) + " bytes");
    return bytes;
}

} // namespace larkspool
