#pragma once

// All options of the program in one process-wide record, loaded from and
// saved to the current user's settings store. Field names are the names of
// the stored values.
//
// The passwords (PassS, PassP) are kept in the desktop's secret service where
// one can be used (platform/secrets), and in the settings file (mode 0600)
// only where none can. Loading prefers the service's password to one still in
// the file; the next save with a service moves a password from the file into
// it, and an empty password removes the kept one.

#include <cstdint>
#include <string>
#include <string_view>

namespace larkspool {

// Below the current user's root, opened as written.
inline constexpr std::string_view SettingsKey = "\\SOFTWARE\\Vandrell\\Larkspool\\";

struct TSettings {
    std::string DestinationFolder;
    bool CreateSubFolder = false;
    bool ShowPictures = false;
    std::int32_t URLW = 0;
    std::int32_t TextW = 0;
    std::int32_t WinW = 0;
    std::int32_t WinH = 0;
    std::int32_t WinL = 0;
    std::int32_t WinT = 0;
    bool AutoSkip = false;
    std::int32_t SkipSec = 0;
    bool NotExtPic = false;
    bool NotKeyPic = false;
    std::string KeyWords;
    std::string Extensions;
    std::int32_t DoWithExtensions = 0;
    bool SaveExistF = false;
    std::string UserS;
    std::string PassS;
    std::string UserP;
    std::string PassP;
    // What a copy needs beyond pages, pictures and style sheets, so that it
    // looks and works as the live site does: on unless the user turns them off.
    bool SaveScripts = true;
    bool SaveStyleFiles = true; // fonts, pictures and cursors named in style sheets
    bool VerifyCopy = false;    // check the copy offline when the save is done
    // Requests in flight at once per server, as browsers make them; 1 fetches
    // one item after the other. A stored value outside 1..MaxConnections is
    // brought inside it where it is used.
    std::int32_t Connections = 6;
};

inline constexpr std::int32_t MaxConnections = 16;

extern TSettings Settings;

// Store to Settings. When the key does not exist nothing changes. A value of
// the wrong type stops the load there (raising "Invalid data type for '...'").
void LoadSettings();
// Whether the last LoadSettings took the value Name from the store (false:
// it keeps its built-in value), so that the command line can say where a
// default comes from.
bool LoadedFromStore(std::string_view Name);
// Settings to the store, when the key exists; "Failed to set data for '...'"
// stops the save at the value that could not be written.
void SaveSettings();
// Creates the settings key when it is missing (installation does this; the
// program itself only opens it).
void CreateSettingsKey();

} // namespace larkspool
