#include "platform/AtomicFile.h"

#include "platform/Leftovers.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace larkspool {

namespace {

[[noreturn]] void Fail(int Error, const std::string& What, const std::string& Path) {
    throw std::system_error(Error, std::generic_category(), What + " \"" + Path + "\"");
}

bool WriteAll(int fd, std::string_view Content) {
    while (!Content.empty()) {
        const ssize_t n = ::write(fd, Content.data(), Content.size());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        Content.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

} // namespace

void WriteFileAtomically(const std::string& Path, std::string_view Content, mode_t Mode) {
    const std::size_t slash = Path.rfind('/');
    const std::string folder =
        slash == std::string::npos ? std::string() : Path.substr(0, slash + 1);
    // A short name of its own whatever the final name's length, which tells
    // the next run whether its writer is still alive.
    std::string temp = folder + LeftoverTemplate(Leftover::TemporaryFile);

    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0)
        Fail(errno, "Cannot write file", Path);
    int error = 0;
    if (::fchmod(fd, Mode) != 0 || !WriteAll(fd, Content) || ::fsync(fd) != 0)
        error = errno;
    if (::close(fd) != 0 && error == 0)
        error = errno;
    if (error == 0 && ::rename(temp.c_str(), Path.c_str()) != 0)
        error = errno;
    if (error != 0) {
        ::unlink(temp.c_str());
        Fail(error, "Cannot write file", Path);
    }
}

std::string ReadWholeFile(const std::string& Path) {
    const int fd = ::open(Path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        Fail(errno, "Cannot read file", Path);
    std::string bytes;
    char chunk[65536];
    for (;;) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            const int error = errno;
            ::close(fd);
            Fail(error, "Cannot read file", Path);
        }
        if (n == 0)
            break;
        bytes.append(chunk, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return bytes;
}

} // namespace larkspool
