#include "app/StartMode.h"

#include "platform/AsciiText.h"

namespace larkspool {

StartMode ParseStartMode(const std::vector<std::string>& Arguments) {
    StartMode mode = StartMode::ByHand;
    for (const std::string& argument : Arguments) {
        if (argument.starts_with("chrome-extension://") ||
            (argument.ends_with(".json") &&
             argument.find("native-messaging-hosts") != std::string::npos))
            return StartMode::Embedding;
        if (argument == "--version")
            return StartMode::Version;
        if (argument.empty() || (argument[0] != '-' && argument[0] != '/'))
            continue;
        const std::string name = LowerAscii(argument.substr(argument[1] == '-' ? 2 : 1));
        if (name == "regserver")
            mode = StartMode::RegServer;
        else if (name == "unregserver")
            return StartMode::UnregServer;
        else if ((name == "embedding" || name == "automation") && mode == StartMode::ByHand)
            mode = StartMode::Embedding;
    }
    return mode;
}

} // namespace larkspool
