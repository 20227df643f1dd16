#pragma once

// One save per folder at a time. Two saves into one folder would overwrite
// each other's pages and log; the second is refused while the first runs.
//
// The lock is an flock on a small file in the folder (kept there: removing
// it would let a save that opened it just before lock a file nobody else
// sees). The kernel drops the lock when the holding process ends however it
// ends, so a crashed save never blocks the folder. The descriptor is closed
// on exec: a browser started during the save does not hold the lock on.

#include "platform/Descriptors.h"

#include <stdexcept>
#include <string>
#include <string_view>

namespace larkspool {

inline constexpr std::string_view SaveFolderLockName = ".larkspool.lock";

class SaveFolderLockError : public std::runtime_error {
public:
    SaveFolderLockError(const std::string& What, bool Busy)
        : std::runtime_error(What), FBusy(Busy) {}
    // True when another save holds the folder; false when the lock file
    // could not be made or opened (a read-only folder, a link in its place).
    bool Busy() const { return FBusy; }

private:
    bool FBusy;
};

class SaveFolderLock {
public:
    // Folder with or without a trailing "/". Throws SaveFolderLockError,
    // whose text names the folder, when the lock cannot be taken at once.
    explicit SaveFolderLock(const std::string& Folder);
    ~SaveFolderLock();
    SaveFolderLock(const SaveFolderLock&) = delete;
    SaveFolderLock& operator=(const SaveFolderLock&) = delete;

private:
    UniqueFd FFd;
};

} // namespace larkspool
