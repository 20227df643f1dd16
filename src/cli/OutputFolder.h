#pragma once

// The folder a command-line save writes into: the destination is checked
// before the browser starts, so that no page is read for a save that cannot
// be stored; the subfolder is chosen once the page's title is known (and
// made by the preparation the window shares, run/SavePreparation).

#include "cli/SaveOptions.h"

#include <optional>
#include <string>

namespace larkspool {

// Why Folder cannot take a save (empty, missing, not a folder, not
// writable), as a message; empty when it can.
std::string DestinationProblem(const std::string& Folder);

// The subfolder the save goes into: none when the settings want none, the
// name given with --subfolder (checked when it is made), else one made from
// Title, or "Saved page" when the title makes no usable name.
std::optional<std::string> ChosenSubFolder(const SaveOptions& Options, const std::string& Title);

} // namespace larkspool
