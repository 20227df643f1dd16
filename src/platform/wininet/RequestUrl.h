#pragma once

// The addresses a request's hops go to: the first from its connection and
// object name, each further one from a redirect's Location.

#include "platform/wininet/WinInet.h"

#include <optional>
#include <string>
#include <string_view>

namespace larkspool::wininet {

// Percent-escapes what may not stand in a request line; '%' stays, so text
// that is escaped already passes unchanged.
std::string EscapeForUrl(std::string_view Text);

// Scheme (lower case), host and port of an absolute URL, with the fragment
// and any user name or password removed from the text.
struct ResolvedUrl {
    std::string Text, Scheme, Host;
    long Port = 0;
};

// Reference resolved against Base, as libcurl reads both; nullopt when
// either is no URL to it.
std::optional<ResolvedUrl> ResolveUrl(const std::string& Base, const std::string& Reference);

// Host as it stands in a URL: an IPv6 address in brackets.
std::string HostForUrl(const std::string& Host);

// The port a connection handle names, or its scheme's default for 0.
long PortOrDefault(INTERNET_PORT Port, bool Secure);

// The URL of a request's first hop.
std::string FirstHopUrl(bool Secure, const std::string& Host, long Port, std::string_view Object);

} // namespace larkspool::wininet
