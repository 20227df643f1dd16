#include "browser/NativeMessaging.h"

#include <cerrno>
#include <cstring>
#include <string>
#include <unistd.h>

namespace larkspool {

namespace {

// Reads exactly Size bytes; returns how many came before the end of input.
std::size_t ReadFully(int Fd, char* Buffer, std::size_t Size) {
    std::size_t done = 0;
    while (done < Size) {
        const ssize_t n = ::read(Fd, Buffer + done, Size - done);
        if (n == 0)
            break;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            throw NativeMessagingError(std::string("cannot read from the browser: ") +
                                       std::strerror(errno));
        }
        done += static_cast<std::size_t>(n);
    }
    return done;
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
    std::size_t done = 0;
    while (done < frame.size()) {
        const ssize_t n = ::write(Fd, frame.data() + done, frame.size() - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            throw NativeMessagingError(std::string("cannot write to the browser: ") +
                                       std::strerror(errno));
        }
        done += static_cast<std::size_t>(n);
    }
}

} // namespace larkspool
