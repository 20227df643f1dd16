#pragma once

// Temporary files and folders that name the process that made them, so that
// what a killed run left behind can be told from what a running one is
// still using, and removed at the next start.
//
//   .larkspool-PID-XXXXXX          a file being written, beside its final name
//   larkspool-chromium-PID-XXXXXX  a browser's profile folder, in $TMPDIR;
//                                  its owner also holds a lock on owner.lock

#include <string>

namespace larkspool {

enum class Leftover { TemporaryFile, BrowserFolder };

// The name template (for mkstemp or mkdtemp) of one made by this process.
std::string LeftoverTemplate(Leftover Kind);

// Inside a browser folder: the file its owner keeps locked while it lives.
inline constexpr const char* OwnerLockName = "owner.lock";

// Creates Folder's owner.lock and locks it; returns the descriptor to keep
// open while the folder is in use, or -1.
int LockOwnedFolder(const std::string& Folder);

// Removes from Folder (not below it) what dead runs left of Kind: entries
// of exactly that name pattern, of the right type (never a symbolic link),
// owned by this user, whose process is gone (and, for a browser folder,
// whose lock is free). Returns how many were removed; never throws.
int RemoveLeftovers(const std::string& Folder, Leftover Kind);

} // namespace larkspool
