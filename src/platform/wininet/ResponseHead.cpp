#include "platform/wininet/ResponseHead.h"

#include "platform/AsciiText.h"

#include <cstdlib>

namespace larkspool::wininet {

bool IsStatusLine(std::string_view Line) {
    return Line.substr(0, 5) == "HTTP/";
}

long StatusCodeOf(std::string_view StatusLine) {
    std::size_t space = StatusLine.find(' ');
    if (space == std::string_view::npos)
        return 0;
    // strtol wants a terminated string; the line is not one.
    std::string rest(StatusLine.substr(space + 1));
    return std::strtol(rest.c_str(), nullptr, 10);
}

std::string_view WithoutLineEnd(std::string_view Line) {
    while (!Line.empty() && (Line.back() == '\r' || Line.back() == '\n'))
        Line.remove_suffix(1);
    return Line;
}

bool IsInformational(long Code) {
    return Code >= 100 && Code < 200;
}

bool IsRedirect(long Code) {
    return Code == 301 || Code == 302 || Code == 303 || Code == 307 || Code == 308;
}

std::optional<std::string> FindHeader(std::string_view Head, std::string_view Name, DWORD Index) {
    std::size_t pos = Head.find('\n'); // past the status line
    while (pos != std::string_view::npos && pos + 1 < Head.size()) {
        std::size_t begin = pos + 1;
        pos = Head.find('\n', begin);
        std::string_view line = Head.substr(
            begin, pos == std::string_view::npos ? std::string_view::npos : pos - begin);
        std::size_t colon = line.find(':');
        if (colon == std::string_view::npos ||
            !EqualsNoCase(TrimBlanks(line.substr(0, colon)), Name))
            continue;
        if (Index-- == 0)
            return std::string(TrimBlanks(line.substr(colon + 1)));
    }
    return std::nullopt;
}

} // namespace larkspool::wininet
