#include "platform/PendingFile.h"

#include "platform/Leftovers.h"

#include <cerrno>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <utility>

namespace larkspool {

namespace {

[[noreturn]] void Fail(int Error, const std::string& Path) {
    throw std::system_error(Error, std::generic_category(), "Cannot write file \"" + Path + "\"");
}

} // namespace

PendingFile::PendingFile(PendingFile&& Other) noexcept
    : FFd(std::exchange(Other.FFd, -1)), FTemp(std::move(Other.FTemp)) {
    Other.FTemp.clear();
}

PendingFile& PendingFile::operator=(PendingFile&& Other) noexcept {
    if (this != &Other) {
        Discard();
        FFd = std::exchange(Other.FFd, -1);
        FTemp = std::move(Other.FTemp);
        Other.FTemp.clear();
    }
    return *this;
}

void PendingFile::Open(const std::string& Folder, const std::string& FinalPathForErrors) {
    Discard();
    // A short name of its own whatever the final name's length, which tells
    // the next run whether its writer is still alive.
    std::string temp = Folder + LeftoverTemplate(Leftover::TemporaryFile);
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0)
        Fail(errno, FinalPathForErrors);
    FFd = fd;
    FTemp = std::move(temp);
}

void PendingFile::Commit(const std::string& FinalPath, mode_t Mode, bool Flushed) {
    int error = 0;
    if (FFd < 0)
        error = EBADF;
    else if (::fchmod(FFd, Mode) != 0 || (!Flushed && ::fsync(FFd) != 0))
        error = errno;
    if (FFd >= 0 && ::close(std::exchange(FFd, -1)) != 0 && error == 0)
        error = errno;
    if (error == 0 && ::rename(FTemp.c_str(), FinalPath.c_str()) != 0)
        error = errno;
    if (error != 0) {
        Discard();
        Fail(error, FinalPath);
    }
    FTemp.clear();
}

void PendingFile::Discard() noexcept {
    if (FFd >= 0)
        ::close(std::exchange(FFd, -1));
    if (!FTemp.empty()) {
        ::unlink(FTemp.c_str());
        FTemp.clear();
    }
}

} // namespace larkspool
