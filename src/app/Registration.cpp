#include "app/Registration.h"

#include "platform/AtomicFile.h"

#include <nlohmann/json.hpp>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <system_error>

namespace larkspool {

namespace {

std::string Environment(const char* Name) {
    const char* value = std::getenv(Name);
    return value != nullptr ? value : "";
}

std::string HomeFolder() {
    return Environment("HOME");
}

std::string ConfigFolder() {
    const std::string config = Environment("XDG_CONFIG_HOME");
    return config.empty() ? HomeFolder() + "/.config" : config;
}

std::vector<std::string> ChromeFolders() {
    return {ConfigFolder() + "/chromium/NativeMessagingHosts",
            ConfigFolder() + "/google-chrome/NativeMessagingHosts"};
}

std::string FirefoxFolder() {
    return HomeFolder() + "/.mozilla/native-messaging-hosts";
}

std::string ManifestName() {
    return std::string(HostName) + ".json";
}

} // namespace

std::vector<HostManifest> HostManifests(const std::string& ExecutablePath,
                                        const std::string& ChromeExtensionId) {
    nlohmann::json manifest = {
        {"name", HostName},
        {"description",
         "Larkspool: saves a web page with the pages it links to, for offline reading"},
        {"path", ExecutablePath},
        {"type", "stdio"},
    };
    std::vector<HostManifest> manifests;
    nlohmann::json chrome = manifest;
    chrome["allowed_origins"] = {"chrome-extension://" + ChromeExtensionId + "/"};
    for (const std::string& folder : ChromeFolders())
        manifests.push_back({folder + "/" + ManifestName(), chrome.dump(2) + "\n"});
    nlohmann::json firefox = manifest;
    firefox["allowed_extensions"] = {FirefoxExtensionId};
    manifests.push_back({FirefoxFolder() + "/" + ManifestName(), firefox.dump(2) + "\n"});
    return manifests;
}

void RegisterHost(const std::string& ExecutablePath, const std::string& ChromeExtensionId) {
    for (const HostManifest& manifest : HostManifests(ExecutablePath, ChromeExtensionId)) {
        std::error_code error;
        const std::filesystem::path folder = std::filesystem::path(manifest.Path).parent_path();
        std::filesystem::create_directories(folder, error);
        if (error)
            throw std::runtime_error("Cannot create the folder " + folder.string() + ": " +
                                     error.message());
        WriteFileAtomically(manifest.Path, manifest.Content, 0644);
    }
}

void UnregisterHost() {
    std::vector<std::string> folders = ChromeFolders();
    folders.push_back(FirefoxFolder());
    for (const std::string& folder : folders) {
        const std::string path = folder + "/" + ManifestName();
        std::error_code error;
        std::filesystem::remove(path, error);
        if (error)
            throw std::runtime_error("Cannot remove " + path + ": " + error.message());
    }
}

} // namespace larkspool
