#pragma once

// Values that live for the whole process and are shared by the windows, the
// download list and the download run. Touched on the main thread only.

#include <string>

namespace larkspool {

// The folder every item of a save is stored in; always ends with "/".
extern std::string OutputFolder;
// Address and title of the page the save started from.
extern std::string StartPageURL;
extern std::string StartPageTitle;

} // namespace larkspool
