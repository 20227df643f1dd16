#pragma once

// How the program was started: by the browser for the extension (the
// embedding start), to register or unregister itself, or by hand.

#include <string>
#include <vector>

namespace larkspool {

enum class StartMode { ByHand, Embedding, RegServer, UnregServer, Version };

// Switches begin with "-" or "/" and are compared without regard to case
// ("-regserver", "/RegServer"); the browser starts the host with its
// extension's origin ("chrome-extension://ID/") or, for Firefox, the host
// manifest's path and the extension's id.
StartMode ParseStartMode(const std::vector<std::string>& Arguments);

} // namespace larkspool
