#pragma once

// The program's version information: `larkspool --version` prints it and the
// About page shows it.

namespace larkspool {

inline constexpr const char* FileVersion = "3.6.0.51";
inline constexpr const char* ProductVersion = "3.6";
inline constexpr const char* FileDescription = "This is a Chromium add-on";
inline constexpr const char* InternalName = "Larkspool";

} // namespace larkspool
