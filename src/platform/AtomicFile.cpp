#include "platform/AtomicFile.h"

#include "platform/Descriptors.h"
#include "platform/PendingFile.h"

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

} // namespace

void WriteFileAtomically(const std::string& Path, std::string_view Content, mode_t Mode) {
    const std::size_t slash = Path.rfind('/');
    PendingFile file;
    file.Open(slash == std::string::npos ? std::string() : Path.substr(0, slash + 1), Path);
    if (!WriteAll(file.Fd(), Content)) {
        const int error = errno;
        file.Discard();
        Fail(error, "Cannot write file", Path);
    }
    file.Commit(Path, Mode);
}

std::string ReadWholeFile(const std::string& Path) {
    const UniqueFd fd(::open(Path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.IsOpen())
        Fail(errno, "Cannot read file", Path);
    std::string bytes;
    if (!ReadToEnd(fd.Get(), bytes))
        Fail(errno, "Cannot read file", Path);
    return bytes;
}

} // namespace larkspool
