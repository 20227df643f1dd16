#pragma once

// What the program offers the browser side, and its version information.
// The description is exchanged first on every connection: an extension
// built for another interface is told apart at once.

#include "tools/VersionInfo.h"

#include <nlohmann/json.hpp>

#include <string>

namespace larkspool {

inline nlohmann::json LibraryDescription() {
    return {{"library", "Larkspool"}, {"version", "1.0"},
            {"interface", "ILSApp"},  {"methods", {{{"name", "Start"}, {"dispid", 1}}}},
            {"class", "LSApp"},       {"progid", "Larkspool.LSApp"}};
}

// A description in a few words, for messages ("Larkspool 1.0, ILSApp.Start").
std::string DescribeLibrary(const nlohmann::json& Description);

// The version information as `larkspool --version` prints it.
std::string VersionInformation();

} // namespace larkspool
