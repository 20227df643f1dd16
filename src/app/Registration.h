#pragma once

// Registration of the program as the browsers' native-messaging host
// "larkspool.lsapp" for the current user: one host manifest in each
// browser's per-user folder, naming the program's path and the extension
// allowed to start it.

#include <string>
#include <vector>

namespace larkspool {

inline constexpr const char* HostName = "larkspool.lsapp";
// The Firefox variant of the extension.
inline constexpr const char* FirefoxExtensionId = "larkspool@vandrell.example";

struct HostManifest {
    std::string Path;    // where the manifest file goes
    std::string Content; // its JSON text
};

// The manifests for Chromium, Google Chrome and Firefox, for the program at
// ExecutablePath and the Chromium extension ChromeExtensionId. The folders
// follow $XDG_CONFIG_HOME (default ~/.config) and $HOME.
std::vector<HostManifest> HostManifests(const std::string& ExecutablePath,
                                        const std::string& ChromeExtensionId);

// Writes every manifest (creating the folders); raises std::runtime_error
// naming the file and the reason on the first failure.
void RegisterHost(const std::string& ExecutablePath, const std::string& ChromeExtensionId);
// Removes the manifests; missing ones are fine. Raises on a file that stays.
void UnregisterHost();

} // namespace larkspool
