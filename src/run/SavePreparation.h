#pragma once

// Setting up a save, the same for the window and the command line: the
// folder it writes into (the chosen one, or a subfolder of it made when
// missing), the folder's lock, what a killed save left there, and the
// download list of the chosen links with the files left to the browser
// handed to it.
//
// A subfolder is one name directly inside the chosen folder: a name that
// would lead elsewhere ("." , "..", anything holding "/") is refused, and so
// are names the system would refuse or that could not be typed back (control
// bytes, more than 255 bytes). Blanks at its ends are dropped first, as a
// typed value's are.

#include "browser/LinkCollection.h"
#include "browser/Variant.h"
#include "lister/Lister.h"
#include "platform/SaveFolderLock.h"

#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace larkspool {

// A folder or subfolder that cannot take the save; the text says why.
class SavePreparationError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Why Folder cannot take a save (empty, missing, not a folder, not
// writable), as a message; empty when it can.
std::string FolderProblem(const std::string& Folder);

// Why Name cannot be the subfolder a save goes into, as a message naming it
// ("\"../x\" cannot be a subfolder name: ..."); empty when it can.
std::string SubFolderProblem(std::string_view Name);

// Name as the subfolder is made: without the blanks at its ends.
std::string SubFolderName(std::string_view Name);

class SavePreparation {
public:
    // Takes Folder (which must exist and be writable), or its subfolder
    // SubFolder (made when missing), for the save: sets OutputFolder, locks
    // the folder and removes what a killed save left there. Throws
    // SavePreparationError, or SaveFolderLockError when the folder is held
    // by another save or cannot be locked; nothing is made outside Folder.
    SavePreparation(const std::string& Folder, const std::optional<std::string>& SubFolder);
    SavePreparation(const SavePreparation&) = delete;
    SavePreparation& operator=(const SavePreparation&) = delete;

    // Where the save writes; ends with "/".
    const std::string& Folder() const { return FFolder; }
    // The subfolder's name as made; empty without one.
    const std::string& SubFolder() const { return FSubFolder; }

    // The download list of the page in Window with the chosen links (their
    // Address and Text), the files left to the browser handed to it. A
    // failing browser call raises.
    std::unique_ptr<TLister> BuildList(const Variant& Window,
                                       const std::vector<LinkRow>& Links) const;

private:
    std::string FFolder;
    std::string FSubFolder;
    // One save per folder at a time: held while this object lives.
    std::optional<SaveFolderLock> FLock;
};

} // namespace larkspool
