#include "tools/ProcessValues.h"

namespace larkspool {

std::string OutputFolder;
std::string StartPageURL;
std::string StartPageTitle;

} // namespace larkspool
