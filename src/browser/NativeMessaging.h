#pragma once

// The browser's native-messaging framing: every message is a JSON object
// with a 4-byte length in native byte order in front, on the host's standard
// input (from the browser) and standard output (to it).

#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>
#include <stdexcept>

namespace larkspool {

class NativeMessagingError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The browser sends at most 64 MiB; anything longer is a broken stream.
inline constexpr std::uint32_t MaxNativeMessage = 64u << 20;

// The next message from Fd; nothing at the end of the input (also when it
// ends inside a message's length). A message cut short, longer than the
// limit, or not a JSON object raises NativeMessagingError.
std::optional<nlohmann::json> ReadNativeMessage(int Fd);

// Writes one message to Fd in full; raises NativeMessagingError when the
// other side has gone.
void WriteNativeMessage(int Fd, const nlohmann::json& Message);

} // namespace larkspool
