#include "platform/SaveFolderLock.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace larkspool {

namespace {

std::string Shown(std::string Folder) {
    while (Folder.size() > 1 && Folder.back() == '/')
        Folder.pop_back();
    return "\"" + Folder + "\"";
}

} // namespace

SaveFolderLock::SaveFolderLock(const std::string& Folder) {
    const std::string path = Folder + (Folder.empty() || Folder.back() != '/' ? "/" : "") +
                             std::string(SaveFolderLockName);
    const auto fail = [&](const std::string& Why) {
        FFd.Reset();
        throw SaveFolderLockError(
            "The folder " + Shown(Folder) + " cannot be locked for this save: " + Why, false);
    };
    // Read-only is enough for flock, and lets a lock file of another user be
    // shared. O_NOFOLLOW and O_NONBLOCK: a link or a FIFO planted under the
    // name is neither followed nor waited for.
    FFd.Reset(::open(path.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0644));
    if (!FFd.IsOpen())
        fail(errno == ELOOP ? std::string(SaveFolderLockName) + " is a symbolic link"
                            : std::string(std::strerror(errno)));
    struct stat info {};
    if (::fstat(FFd.Get(), &info) != 0)
        fail(std::strerror(errno));
    if (!S_ISREG(info.st_mode))
        fail(std::string(SaveFolderLockName) + " is not a regular file");
    if (LockExclusive(FFd.Get(), false))
        return;
    if (errno != EWOULDBLOCK)
        fail(std::strerror(errno));
    FFd.Reset();
    throw SaveFolderLockError("Another save into the folder " + Shown(Folder) +
                                  " is running; wait until it ends, or choose another folder",
                              true);
}

SaveFolderLock::~SaveFolderLock() = default;

} // namespace larkspool
