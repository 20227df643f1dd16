#include "app/StartMode.h"

#include "platform/AsciiText.h"

namespace larkspool {

TStartMode ParseStartMode(const std::vector<std::string>& Arguments) {
    TStartMode mode = TStartMode::ByHand;
    for (const std::string& argument : Arguments) {
        if (argument.starts_with("chrome-extension://") ||
            (argument.ends_with(".json") &&
             argument.find("native-messaging-hosts") != std::string::npos))
            return TStartMode::Embedding;
        if (argument == "--version")
            return TStartMode::Version;
        if (argument.empty() || (argument[0] != '-' && argument[0] != '/'))
            continue;
        const std::string name = LowerAscii(argument.substr(argument[1] == '-' ? 2 : 1));
        if (name == "regserver")
            mode = TStartMode::RegServer;
        else if (name == "unregserver")
            return TStartMode::UnregServer;
        else if ((name == "embedding" || name == "automation") && mode == TStartMode::ByHand)
            mode = TStartMode::Embedding;
    }
    return mode;
}

} // namespace larkspool
