#pragma once

// A fresh folder under the system's temporary folder for one test, removed
// with everything in it when the test ends. Its name is made unique by
// mkdtemp, so parallel runs and other users never meet in it.

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <system_error>

namespace larkspool::check {

class TempFolder {
public:
    explicit TempFolder(const std::string& Stem = "larkspool-test") {
        std::string pattern =
            (std::filesystem::temp_directory_path() / (Stem + "-XXXXXX")).string();
        if (::mkdtemp(pattern.data()) == nullptr)
            throw std::runtime_error("cannot make a temporary folder " + pattern);
        FPath = pattern;
    }
    ~TempFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(FPath, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::string& Path() const { return FPath; }
    // The path of Name (which may name subfolders) inside the folder.
    std::string File(const std::string& Name) const { return FPath + "/" + Name; }

    // Writes Bytes as Name, making the subfolders it names; returns its path.
    std::string Write(const std::string& Name, const std::string& Bytes) const {
        const std::filesystem::path path = File(Name);
        std::filesystem::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary) << Bytes;
        return path.string();
    }
    // What Name holds; empty when there is no such file.
    std::string Read(const std::string& Name) const {
        std::ifstream in(File(Name), std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }

private:
    std::string FPath;
};

// A configuration folder of the test's own as XDG_CONFIG_HOME, so that the
// user's settings are never read or written. The variable is not put back:
// pointing at the removed folder, a stray later write goes nowhere rather
// than into the user's settings. The session bus is forgotten likewise, so
// that no password reaches the user's keyring (a test that wants a secret
// service starts its own, support/PrivateSessionBus.h).
class ConfigFolder : public TempFolder {
public:
    // The settings file, as the registry store keeps it, within the folder.
    static constexpr const char* Registry = "larkspool/registry.reg";

    ConfigFolder() : TempFolder("larkspool-config") {
        ::setenv("XDG_CONFIG_HOME", Path().c_str(), 1);
        ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
    }
};

} // namespace larkspool::check
