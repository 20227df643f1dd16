#pragma once

// Reading a response head: libcurl hands it over one line at a time, line
// ending included; the layer keeps it as the status line, CR LF header lines
// and a blank line.

#include "platform/wininet/WinInet.h"

#include <optional>
#include <string>
#include <string_view>

namespace larkspool::wininet {

// A line that starts a response ("HTTP/1.1 200 OK"); any other line of a head
// is a header, or a trailer after a chunked body.
bool IsStatusLine(std::string_view Line);

// The number after the first space of a status line; 0 when there is none.
long StatusCodeOf(std::string_view StatusLine);

// Line without the CR and LF bytes that end it.
std::string_view WithoutLineEnd(std::string_view Line);

// 1xx: another head follows on the same request.
bool IsInformational(long Code);

// The codes the layer follows by itself, Location permitting.
bool IsRedirect(long Code);

// The value of a header in a response head (status line first, CR LF lines):
// the Index-th line named Name, compared without case.
std::optional<std::string> FindHeader(std::string_view Head, std::string_view Name, DWORD Index);

} // namespace larkspool::wininet
