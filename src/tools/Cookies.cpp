#include "tools/Cookies.h"

#include "platform/AsciiText.h"

#include <algorithm>
#include <charconv>
#include <fstream>
#include <sstream>

namespace larkspool {

namespace {

constexpr std::string_view HttpOnlyPrefix = "#HttpOnly_";

bool ReadFlag(std::string_view Field, bool& Value) {
    if (EqualsNoCase(Field, "TRUE"))
        Value = true;
    else if (EqualsNoCase(Field, "FALSE"))
        Value = false;
    else
        return false;
    return true;
}

std::vector<std::string_view> SplitTabs(std::string_view Line) {
    std::vector<std::string_view> fields;
    for (;;) {
        const std::size_t tab = Line.find('\t');
        fields.push_back(Line.substr(0, tab));
        if (tab == std::string_view::npos)
            return fields;
        Line.remove_prefix(tab + 1);
    }
}

bool HasControl(std::string_view Text) {
    return std::any_of(Text.begin(), Text.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return u < 0x20 || u == 0x7f;
    });
}

} // namespace

std::vector<BrowserCookie> ParseCookiesText(std::string_view Text, std::int64_t Now) {
    std::vector<BrowserCookie> cookies;
    std::size_t number = 0;
    while (!Text.empty()) {
        const std::size_t end = Text.find('\n');
        std::string_view line = Text.substr(0, end);
        Text.remove_prefix(end == std::string_view::npos ? Text.size() : end + 1);
        ++number;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        BrowserCookie cookie;
        if (line.starts_with(HttpOnlyPrefix)) {
            cookie.HttpOnly = true;
            line.remove_prefix(HttpOnlyPrefix.size());
        } else if (line.starts_with('#') ||
                   line.find_first_not_of(" \t") == std::string_view::npos) {
            continue;
        }
        const auto bad = [&](const std::string& Why) {
            return CookieFileError("line " + std::to_string(number) + " is not a cookie: " + Why);
        };
        const std::vector<std::string_view> f = SplitTabs(line);
        if (f.size() != 7)
            throw bad("it has " + std::to_string(f.size()) + " fields separated by tabs, not 7");
        std::string_view domain = f[0];
        if (domain.starts_with('.'))
            domain.remove_prefix(1);
        cookie.Domain = LowerAscii(domain);
        if (!ReadFlag(f[1], cookie.IncludeSubdomains))
            throw bad("the second field is neither TRUE nor FALSE");
        cookie.Path = f[2].empty() ? "/" : std::string(f[2]);
        if (!ReadFlag(f[3], cookie.Secure))
            throw bad("the fourth field is neither TRUE nor FALSE");
        const std::string_view expires = f[4];
        const auto [rest, error] =
            std::from_chars(expires.data(), expires.data() + expires.size(), cookie.Expires);
        if (error != std::errc() || rest != expires.data() + expires.size() || cookie.Expires < 0)
            throw bad("the expiry is not a number of seconds");
        cookie.Name = f[5];
        cookie.Value = f[6];
        if (!IsUsableCookie(cookie))
            throw bad("it has no domain or name, or a control character");
        if (cookie.Expires != 0 && cookie.Expires < Now)
            continue;
        cookies.push_back(std::move(cookie));
    }
    return cookies;
}

std::vector<BrowserCookie> ReadCookiesFile(const std::string& Path, std::int64_t Now) {
    std::ifstream in(Path, std::ios::binary);
    if (!in)
        throw CookieFileError("cannot read the cookies file " + Path);
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad())
        throw CookieFileError("cannot read the cookies file " + Path);
    try {
        return ParseCookiesText(text.str(), Now);
    } catch (const CookieFileError& e) {
        throw CookieFileError("the cookies file " + Path + ": " + e.what());
    }
}

bool IsUsableCookie(const BrowserCookie& Cookie) {
    return !Cookie.Domain.empty() && !Cookie.Name.empty() && !HasControl(Cookie.Domain) &&
           !HasControl(Cookie.Path) && !HasControl(Cookie.Name) && !HasControl(Cookie.Value) &&
           Cookie.Domain.find_first_of(" ;,") == std::string::npos &&
           Cookie.Name.find_first_of("=;") == std::string::npos &&
           Cookie.Value.find(';') == std::string::npos;
}

std::string CookieLine(const BrowserCookie& Cookie) {
    std::string line = Cookie.HttpOnly ? std::string(HttpOnlyPrefix) : std::string();
    if (Cookie.IncludeSubdomains)
        line += '.';
    line += Cookie.Domain;
    line += Cookie.IncludeSubdomains ? "\tTRUE\t" : "\tFALSE\t";
    line += Cookie.Path.empty() ? "/" : Cookie.Path;
    line += Cookie.Secure ? "\tTRUE\t" : "\tFALSE\t";
    line += std::to_string(Cookie.Expires);
    line += '\t';
    line += Cookie.Name;
    line += '\t';
    line += Cookie.Value;
    return line;
}

bool CookieFitsHost(const BrowserCookie& Cookie, std::string_view Host) {
    const std::string host = LowerAscii(Host);
    if (host == Cookie.Domain)
        return true;
    return Cookie.IncludeSubdomains && host.size() > Cookie.Domain.size() &&
           host.ends_with(Cookie.Domain) && host[host.size() - Cookie.Domain.size() - 1] == '.';
}

std::vector<BrowserCookie> CookiesForHosts(const std::vector<BrowserCookie>& All,
                                           const std::vector<std::string>& Hosts) {
    std::vector<BrowserCookie> fitting;
    for (const BrowserCookie& cookie : All)
        if (IsUsableCookie(cookie) &&
            std::any_of(Hosts.begin(), Hosts.end(),
                        [&](const std::string& host) { return CookieFitsHost(cookie, host); }))
            fitting.push_back(cookie);
    return fitting;
}

std::string CookieHostOf(std::string_view URL) {
    const std::size_t start = URL.find("//");
    if (start == std::string_view::npos)
        return {};
    std::string_view authority = URL.substr(start + 2);
    authority = authority.substr(0, authority.find_first_of("/?#\\"));
    if (const std::size_t at = authority.rfind('@'); at != std::string_view::npos)
        authority.remove_prefix(at + 1);
    if (authority.starts_with('['))
        authority = authority.substr(0, authority.find(']') + 1);
    else
        authority = authority.substr(0, authority.find(':'));
    return LowerAscii(authority);
}

} // namespace larkspool
