#include "run/SavePreparation.h"

#include "lister/LocalNames.h"
#include "platform/AsciiText.h"
#include "platform/Leftovers.h"
#include "run/HandToBrowser.h"
#include "tools/ProcessValues.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace larkspool {

namespace {

bool IsControl(char c) {
    return static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
}

// Why the trimmed Name cannot be a subfolder; empty when it can.
const char* SubFolderReason(std::string_view Name) {
    if (Name.empty())
        return "it is blank";
    if (Name == "." || Name == "..")
        return "it names the chosen folder or the one above it";
    if (Name.find('/') != std::string_view::npos)
        return "it holds \"/\", and a subfolder is one name inside the chosen folder";
    for (const char c : Name)
        if (IsControl(c))
            return "it holds a control character";
    if (Name.size() > MaxLocalNameBytes)
        return "it is longer than 255 bytes";
    return nullptr;
}

bool Exists(const std::string& Path) {
    struct stat info {};
    return ::lstat(Path.c_str(), &info) == 0;
}

} // namespace

std::string FolderProblem(const std::string& Folder) {
    if (Folder.empty())
        return "no destination folder is given";
    const std::string quoted = "the destination folder \"" + Folder + "\"";
    struct stat info {};
    if (::stat(Folder.c_str(), &info) != 0)
        return errno == ENOENT ? quoted + " does not exist"
                               : quoted + " cannot be used: " + std::strerror(errno);
    if (!S_ISDIR(info.st_mode))
        return quoted + " is not a folder";
    // The effective user decides, as it does for the files the save writes.
    if (::faccessat(AT_FDCWD, Folder.c_str(), W_OK | X_OK, AT_EACCESS) != 0)
        return quoted + " cannot be written into: " + std::strerror(errno);
    return {};
}

std::string SubFolderName(std::string_view Name) {
    return std::string(TrimBlanks(Name));
}

std::string SubFolderProblem(std::string_view Name) {
    const char* reason = SubFolderReason(TrimBlanks(Name));
    if (!reason)
        return {};
    // Shown as given, with control bytes (a NUL would cut the message) as "?".
    std::string shown(Name);
    for (char& c : shown)
        if (IsControl(c))
            c = '?';
    return "\"" + shown + "\" cannot be a subfolder name: " + reason;
}

SavePreparation::SavePreparation(const std::string& Folder,
                                 const std::optional<std::string>& SubFolder) {
    if (const std::string problem = FolderProblem(Folder); !problem.empty())
        throw SavePreparationError(problem);
    std::string folder = Folder;
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    if (folder != "/")
        folder += '/';
    if (SubFolder) {
        // Checked before anything is made: a refused name leaves no trace.
        if (const std::string problem = SubFolderProblem(*SubFolder); !problem.empty())
            throw SavePreparationError(problem);
        FSubFolder = SubFolderName(*SubFolder);
        folder += FSubFolder;
        if (!Exists(folder) && ::mkdir(folder.c_str(), 0755) != 0)
            throw SavePreparationError("cannot create the folder \"" + folder +
                                       "\": " + std::strerror(errno));
        // An earlier save's subfolder may be a file or read-only by now.
        if (const std::string problem = FolderProblem(folder); !problem.empty())
            throw SavePreparationError(problem);
        folder += '/';
    }
    FFolder = folder;
    OutputFolder = FFolder;
    FLock.emplace(FFolder);
    // Only under the lock: a running save's temporary files are its own.
    RemoveLeftovers(FFolder, Leftover::TemporaryFile);
}

std::unique_ptr<TLister> SavePreparation::BuildList(const Variant& Window,
                                                    const std::vector<LinkRow>& Links) const {
    auto list = std::make_unique<TLister>(Window);
    for (const LinkRow& row : Links)
        list->AddLink(row.Address, row.Text);
    HandToBrowser(*list, Window);
    return list;
}

} // namespace larkspool
