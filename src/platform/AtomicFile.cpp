#include "platform/AtomicFile.h"

#include "platform/Descriptors.h"
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

} // namespace

void WriteFileAtomically(const std::string& Path, std::string_view Content, mode_t Mode) {
    const std::size_t slash = Path.rfind('/');
    const std::string folder =
        slash == std::string::npos ? std::string() : Path.substr(0, slash + 1);
    // A short name of its own whatever the final name's length, which tells
    // the next run whether its writer is still alive.
    std::string temp = folder + LeftoverTemplate(Leftover::TemporaryFile);

    UniqueFd fd(::mkostemp(temp.data(), O_CLOEXEC));
    if (!fd.IsOpen())
        Fail(errno, "Cannot write file", Path);
    int error = 0;
    if (::fchmod(fd.Get(), Mode) != 0 || !WriteAll(fd.Get(), Content) || ::fsync(fd.Get()) != 0)
        error = errno;
    if (!fd.Close() && error == 0)
        error = errno;
    if (error == 0 && ::rename(temp.c_str(), Path.c_str()) != 0)
        error = errno;
    if (error != 0) {
        ::unlink(temp.c_str());
        Fail(error, "Cannot write file", Path);
    }
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
