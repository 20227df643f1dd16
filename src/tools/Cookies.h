#pragma once

// The browser's cookies as a save takes them over: what the browser would
// send (domain, path, Secure, expiry, HttpOnly too), in the Netscape
// cookies.txt form that libcurl, wget and browsers' export tools read and
// write:
//
//   DOMAIN <TAB> SUBDOMAINS <TAB> PATH <TAB> SECURE <TAB> EXPIRES <TAB> NAME <TAB> VALUE
//
// SUBDOMAINS and SECURE are TRUE or FALSE, EXPIRES is seconds since 1970 (0:
// a session cookie), a line starting "#HttpOnly_" is an HttpOnly cookie, and
// any other line starting with '#' is a comment.

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace larkspool {

struct BrowserCookie {
    std::string Domain; // without a leading dot
    bool IncludeSubdomains = false;
    std::string Path = "/";
    bool Secure = false;
    bool HttpOnly = false;
    std::int64_t Expires = 0; // 0: ends with the session
    std::string Name, Value;

    bool operator==(const BrowserCookie&) const = default;
};

// A cookies file that cannot be read; the message names the line.
class CookieFileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Every cookie of a cookies.txt text; cookies that expired before Now (seconds
// since 1970) are left out. A line that is not a cookie throws.
std::vector<BrowserCookie> ParseCookiesText(std::string_view Text, std::int64_t Now);
// The file at Path, read and parsed as above; a missing or unreadable file
// throws too.
std::vector<BrowserCookie> ReadCookiesFile(const std::string& Path, std::int64_t Now);

// Whether the fields can go into a cookies.txt line and an HTTP header: no
// tab, line break or other control character, a domain and a name.
bool IsUsableCookie(const BrowserCookie& Cookie);

// The cookie's cookies.txt line, without a line break.
std::string CookieLine(const BrowserCookie& Cookie);

// Whether a request to Host (a name or address, any case) may carry the
// cookie as far as the domain goes: the cookie's own host, or a host below
// its domain when it includes subdomains. Path and Secure are the HTTP
// layer's to check per request.
bool CookieFitsHost(const BrowserCookie& Cookie, std::string_view Host);

// The usable cookies of All that fit any of Hosts, in All's order.
std::vector<BrowserCookie> CookiesForHosts(const std::vector<BrowserCookie>& All,
                                           const std::vector<std::string>& Hosts);

// The host name of an http or https address, in lower case, without user,
// password or port; empty when the address has none.
std::string CookieHostOf(std::string_view URL);

// Asks the browser for the cookies it would send to any of Hosts (a round
// trip to it); throws when it cannot answer.
using CookieSource =
    std::function<std::vector<BrowserCookie>(const std::vector<std::string>& Hosts)>;

} // namespace larkspool
