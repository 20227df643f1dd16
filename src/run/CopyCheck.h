#pragma once

// The offline check of a finished save, as the window and the command line
// run it: which pages the save stored, and the report as lines of text.

#include "browser/OfflineCheck.h"
#include "lister/Lister.h"

#include <string>
#include <vector>

namespace larkspool {

// The pages of List that were relinked and whose file is in Folder (which
// ends with "/"), by file name; INDEX.HTML first, the others in list order.
std::vector<std::string> StoredPages(const TLister& List, const std::string& Folder);

// One line per problem ("INDEX.HTML: pic.gif — file not found", or
// "INDEX.HTML: it kept loading for 15 s" for the page itself), pages in
// the order checked.
std::vector<std::string> ProblemLines(const OfflineReport& Report);

} // namespace larkspool
