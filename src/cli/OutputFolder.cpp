#include "cli/OutputFolder.h"

#include "run/SavePreparation.h"
#include "tools/Settings.h"
#include "tools/UrlHelpers.h"

namespace larkspool {

std::string DestinationProblem(const std::string& Folder) {
    if (Folder.empty())
        return "no destination folder is given (--folder) or stored";
    return FolderProblem(Folder);
}

std::optional<std::string> ChosenSubFolder(const SaveOptions& Options, const std::string& Title) {
    if (!Settings.CreateSubFolder)
        return std::nullopt;
    if (Options.SubFolderName)
        return Options.SubFolderName;
    std::string named = MakeFolderName(Title);
    if (!SubFolderProblem(named).empty())
        named = "Saved page";
    return named;
}

} // namespace larkspool
