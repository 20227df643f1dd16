#pragma once

// The folder a command-line save writes into: the destination is checked
// before the browser starts, so that no page is read for a save that cannot
// be stored; the subfolder is made once the page's title is known.

#include "cli/SaveOptions.h"

#include <string>

namespace larkspool {

// Why Folder cannot take a save (empty, missing, not a folder, not
// writable), as a message; empty when it can.
std::string DestinationProblem(const std::string& Folder);

// The destination, plus the subfolder when one is wanted (created when
// missing); always ends with "/". Empty with a message on failure.
std::string MakeOutputFolder(const TSaveOptions& Options, const std::string& Title);

} // namespace larkspool
