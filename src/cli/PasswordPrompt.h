#pragma once

// Asking for a password on the terminal, with the typed characters not shown.

#include <optional>
#include <string>

namespace larkspool {

// Writes Prompt to Out and reads one line from In with echo turned off; the
// terminal is put back as it was, also when a signal ends the program while
// it waits. Nothing when In is not a terminal, or the input ends or fails
// before the end of the line.
std::optional<std::string> ReadPasswordFromTerminal(const std::string& Prompt, int In, int Out);

} // namespace larkspool
