#include "platform/RegularFile.h"

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

// Closes the descriptor on every way out.
class Descriptor {
public:
    explicit Descriptor(int Fd) : FFd(Fd) {}
    ~Descriptor() {
        if (FFd >= 0)
            ::close(FFd);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int Get() const { return FFd; }

private:
    int FFd;
};

} // namespace

std::optional<std::string> ReadRegularFile(const std::string& Path, std::size_t MaxBytes) {
    // O_NOFOLLOW refuses a link in the last step of the path; O_NONBLOCK lets
    // the open of a FIFO return at once (it changes nothing for a regular
    // file); the type is then taken from the opened descriptor itself, so
    // nothing can be swapped in between the test and the read.
    const Descriptor fd(::open(Path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
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
    char chunk[65536];
    for (;;) {
        const ssize_t n = ::read(fd.Get(), chunk, sizeof chunk);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            Refuse(Path, std::strerror(errno));
        }
        if (n == 0)
            break;
        bytes.append(chunk, static_cast<std::size_t>(n));
        if (bytes.size() > MaxBytes)
            Refuse(Path, "it is larger than " + std::to_string(MaxBytes) + " bytes");
    }
    return bytes;
}

} // namespace larkspool
