#include "cli/OutputFolder.h"

#include "tools/ProcessValues.h"
#include "tools/Settings.h"
#include "tools/UrlHelpers.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace larkspool {

namespace {

bool Exists(const std::string& Path) {
    struct stat info {};
    return ::lstat(Path.c_str(), &info) == 0;
}

} // namespace

std::string DestinationProblem(const std::string& Folder) {
    if (Folder.empty())
        return "no destination folder is given (--folder) or stored";
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

std::string MakeOutputFolder(const TSaveOptions& Options, const std::string& Title) {
    std::string folder = Settings.DestinationFolder;
    if (const std::string problem = DestinationProblem(folder); !problem.empty()) {
        std::fprintf(stderr, "larkspool-save: %s\n", problem.c_str());
        return {};
    }
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    if (folder != "/")
        folder += '/';
    if (Settings.CreateSubFolder) {
        std::string sub = Options.SubFolderName.value_or(MakeFolderName(Title));
        if (sub.empty() || sub == "." || sub == ".." || sub.find('/') != std::string::npos)
            sub = Options.SubFolderName ? std::string() : "Saved page";
        if (sub.empty()) {
            std::fprintf(stderr, "larkspool-save: \"%s\" cannot be a subfolder name\n",
                         Options.SubFolderName->c_str());
            return {};
        }
        folder += sub;
        if (!Exists(folder) && ::mkdir(folder.c_str(), 0755) != 0) {
            std::fprintf(stderr, "larkspool-save: cannot create the folder \"%s\": %s\n",
                         folder.c_str(), std::strerror(errno));
            return {};
        }
        // An earlier save's subfolder may be a file or read-only by now.
        if (const std::string problem = DestinationProblem(folder); !problem.empty()) {
            std::fprintf(stderr, "larkspool-save: %s\n", problem.c_str());
            return {};
        }
        folder += '/';
    }
    return folder;
}

} // namespace larkspool
