#include "platform/UrlText.h"

#include <algorithm>

namespace larkspool {

namespace {

void DropLastSegment(std::string& Path) {
    const std::size_t slash = Path.rfind('/');
    Path.erase(slash == std::string::npos ? 0 : slash);
}

} // namespace

std::string RemoveDotSegments(std::string_view In) {
    std::string out;
    while (!In.empty()) {
        if (In.starts_with("../")) {
            In.remove_prefix(3);
        } else if (In.starts_with("./") || In.starts_with("/./")) {
            In.remove_prefix(2);
        } else if (In == "/.") {
            In = "/";
        } else if (In.starts_with("/../")) {
            In.remove_prefix(3);
            DropLastSegment(out);
        } else if (In == "/..") {
            In = "/";
            DropLastSegment(out);
        } else if (In == "." || In == "..") {
            In = {};
        } else {
            const std::size_t end = std::min(In.find('/', In.front() == '/' ? 1 : 0), In.size());
            out.append(In.substr(0, end));
            In.remove_prefix(end);
        }
    }
    return out;
}

} // namespace larkspool
