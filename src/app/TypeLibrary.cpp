#include "app/TypeLibrary.h"

namespace larkspool {

std::string DescribeLibrary(const nlohmann::json& Description) {
    if (!Description.is_object())
        return "nothing recognisable";
    const auto text = [&](const char* Key) {
        const auto found = Description.find(Key);
        return found != Description.end() && found->is_string() ? found->get<std::string>()
                                                                : std::string("?");
    };
    std::string methods;
    if (const auto found = Description.find("methods");
        found != Description.end() && found->is_array())
        for (const auto& method : *found)
            if (method.is_object())
                methods += (methods.empty() ? "" : ", ") + text("interface") + "." +
                           method.value("name", std::string("?"));
    return text("library") + " " + text("version") + " (" +
           (methods.empty() ? "no methods" : methods) + ")";
}

std::string VersionInformation() {
    return std::string(InternalName) + " " + ProductVersion + "\nFile version " + FileVersion +
           "\n" + FileDescription + "\n";
}

} // namespace larkspool
