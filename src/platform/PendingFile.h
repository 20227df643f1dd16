#pragma once

// A file being written beside its final name: it is made under a temporary
// name in the final folder, and only a complete, flushed file is renamed
// into place, so that a crash, a full disk or an interrupted download never
// leaves a shortened file under the final name.

#include <string>
#include <sys/types.h>

namespace larkspool {

class PendingFile {
public:
    PendingFile() = default;
    ~PendingFile() { Discard(); }
    PendingFile(PendingFile&& Other) noexcept;
    PendingFile& operator=(PendingFile&& Other) noexcept;
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;

    // Makes the temporary file in Folder (ending in '/', or empty for the
    // working folder). Throws std::system_error naming FinalPathForErrors.
    void Open(const std::string& Folder, const std::string& FinalPathForErrors);
    bool IsOpen() const { return FFd >= 0; }
    int Fd() const { return FFd; }
    const std::string& TemporaryPath() const { return FTemp; }

    // Gives the file Mode, flushes it to disk (unless Flushed says the
    // writer did), and renames it to FinalPath. Throws std::system_error
    // naming FinalPath; the temporary file is gone either way.
    void Commit(const std::string& FinalPath, mode_t Mode = 0644, bool Flushed = false);
    // Removes the temporary file; nothing happens when there is none.
    void Discard() noexcept;

private:
    int FFd = -1;
    std::string FTemp;
};

} // namespace larkspool
