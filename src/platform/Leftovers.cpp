#include "platform/Leftovers.h"

#include "platform/Descriptors.h"

#include <cerrno>
#include <csignal>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <string_view>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace larkspool {

namespace {

std::string_view Prefix(Leftover Kind) {
    return Kind == Leftover::TemporaryFile ? ".larkspool-" : "larkspool-chromium-";
}

bool IsAsciiDigit(char C) {
    return C >= '0' && C <= '9';
}

bool IsTemplateChar(char C) {
    return IsAsciiDigit(C) || (C >= 'a' && C <= 'z') || (C >= 'A' && C <= 'Z');
}

// The owner's process id when Name is PREFIX + PID + "-" + six template
// characters, else 0.
pid_t OwnerOf(std::string_view Name, Leftover Kind) {
    const std::string_view prefix = Prefix(Kind);
    if (!Name.starts_with(prefix))
        return 0;
    Name.remove_prefix(prefix.size());
    const std::size_t dash = Name.find('-');
    if (dash == 0 || dash > 9 || dash == std::string_view::npos || Name.size() != dash + 7 ||
        Name[0] == '0')
        return 0;
    pid_t pid = 0;
    for (std::size_t i = 0; i < dash; ++i) {
        if (!IsAsciiDigit(Name[i]))
            return 0;
        pid = pid * 10 + (Name[i] - '0');
    }
    for (std::size_t i = dash + 1; i < Name.size(); ++i)
        if (!IsTemplateChar(Name[i]))
            return 0;
    return pid;
}

// Gone for sure: a process that merely belongs to someone else is alive.
bool ProcessGone(pid_t Pid) {
    return Pid != ::getpid() && ::kill(Pid, 0) != 0 && errno == ESRCH;
}

// A folder whose owner.lock nobody holds (or that has none: its owner died
// before making it).
bool LockFree(int FolderFd, const char* Name) {
    const int folder = ::openat(FolderFd, Name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (folder < 0)
        return false;
    bool free = false;
    const int lock = ::openat(folder, OwnerLockName, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (lock < 0) {
        free = errno == ENOENT;
    } else {
        free = ::flock(lock, LOCK_EX | LOCK_NB) == 0;
        ::close(lock);
    }
    ::close(folder);
    return free;
}

} // namespace

std::string LeftoverTemplate(Leftover Kind) {
    return std::string(Prefix(Kind)) + std::to_string(::getpid()) + "-XXXXXX";
}

int LockOwnedFolder(const std::string& Folder) {
    const std::string path = Folder + "/" + OwnerLockName;
    UniqueFd fd(::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!fd.IsOpen() || !LockExclusive(fd.Get(), false))
        return -1;
    return fd.Release();
}

int RemoveLeftovers(const std::string& Folder, Leftover Kind) {
    DIR* dir = ::opendir(Folder.empty() ? "." : Folder.c_str());
    if (dir == nullptr)
        return 0;
    const int fd = ::dirfd(dir);
    const uid_t me = ::geteuid();
    int removed = 0;
    while (const dirent* entry = ::readdir(dir)) {
        const pid_t owner = OwnerOf(entry->d_name, Kind);
        if (owner <= 0)
            continue;
        struct stat info {};
        if (::fstatat(fd, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0 || info.st_uid != me ||
            !ProcessGone(owner))
            continue;
        if (Kind == Leftover::TemporaryFile) {
            if (S_ISREG(info.st_mode) && ::unlinkat(fd, entry->d_name, 0) == 0)
                ++removed;
        } else if (S_ISDIR(info.st_mode) && LockFree(fd, entry->d_name)) {
            std::string path = Folder;
            if (!path.empty() && path.back() != '/')
                path += '/';
            std::error_code ignored;
            // remove_all removes symbolic links inside, never what they point to.
            if (std::filesystem::remove_all(path + entry->d_name, ignored) > 0)
                ++removed;
        }
    }
    ::closedir(dir);
    return removed;
}

} // namespace larkspool
