#include "browser/NativeMessaging.h"

#include "platform/Descriptors.h"

#include <cerrno>
#include <cstring>
#include <string>

namespace larkspool {

namespace {

// Reads exactly Size bytes; returns how many came before the end of input.
std::size_t ReadFully(int Fd, char* Buffer, std::size_t Size) {
    const ssize_t got = ReadFull(Fd, Buffer, Size);
    if (got < 0)
        throw NativeMessagingError(std::string("cannot read from the browser: ") +
                                   std::strerror(errno));
    return static_cast<std::size_t>(got);
}

} // namespace

std::optional<nlohmann::json> ReadNativeMessage(int Fd) {
    std::uint32_t length = 0;
    const std::size_t got = ReadFully(Fd, reinterpret_cast<char*>(&length), sizeof length);
    if (got < sizeof length)
        return std::nullopt;
    if (length > MaxNativeMessage)
        throw NativeMessagingError("a message from the browser claims " + std::to_string(length) +
                                   " bytes, more than the limit of 64 MiB");
    std::string text(length, '\0');
    if (ReadFully(Fd, text.data(), length) < length)
        throw NativeMessagingError("the browser's message ended after fewer than " +
                                   std::to_string(length) + " bytes");
    nlohmann::json message = nlohmann::json::parse(text, nullptr, false);
    if (!message.is_object())
        throw NativeMessagingError("a message from the browser is not a JSON object");
    return message;
}

void WriteNativeMessage(int Fd, const nlohmann::json& Message) {
    const std::string text = Message.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    const auto length = static_cast<std::uint32_t>(text.size());
    std::string frame(reinterpret_cast<const char*>(&length), sizeof length);
    frame += text;
    if (!WriteAll(Fd, frame))
        throw NativeMessagingError(std::string("cannot write to the browser: ") +
                                   std::strerror(errno));
}

} // namespace larkspool
