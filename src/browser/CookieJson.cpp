#include "browser/CookieJson.h"

#include "platform/AsciiText.h"

#include <cmath>

namespace larkspool {

using nlohmann::json;

std::optional<BrowserCookie> CookieFromJson(const json& Cookie) {
    if (!Cookie.is_object())
        return std::nullopt;
    const auto text = [&](const char* Key) {
        const json value = Cookie.value(Key, json());
        return value.is_string() ? value.get<std::string>() : std::string();
    };
    const auto flag = [&](const char* Key) {
        const json value = Cookie.value(Key, json());
        return value.is_boolean() && value.get<bool>();
    };
    BrowserCookie cookie;
    std::string domain = text("domain");
    const bool dotted = domain.starts_with('.');
    if (dotted)
        domain.erase(0, 1);
    cookie.Domain = LowerAscii(domain);
    const json hostOnly = Cookie.value("hostOnly", json());
    cookie.IncludeSubdomains = hostOnly.is_boolean() ? !hostOnly.get<bool>() : dotted;
    if (std::string path = text("path"); !path.empty())
        cookie.Path = std::move(path);
    cookie.Secure = flag("secure");
    cookie.HttpOnly = flag("httpOnly");
    cookie.Name = text("name");
    cookie.Value = text("value");
    json expires = Cookie.value("expirationDate", json());
    if (!expires.is_number())
        expires = Cookie.value("expires", json());
    // Session cookies have none, or -1 in the DevTools protocol.
    if (!flag("session") && expires.is_number()) {
        const double seconds = expires.get<double>();
        if (std::isfinite(seconds) && seconds >= 1 && seconds < 1e15)
            cookie.Expires = static_cast<std::int64_t>(seconds);
    }
    if (!IsUsableCookie(cookie))
        return std::nullopt;
    return cookie;
}

std::vector<BrowserCookie> CookiesFromJson(const json& Cookies) {
    std::vector<BrowserCookie> cookies;
    if (!Cookies.is_array())
        return cookies;
    for (const json& entry : Cookies)
        if (std::optional<BrowserCookie> cookie = CookieFromJson(entry))
            cookies.push_back(std::move(*cookie));
    return cookies;
}

json CookieParam(const BrowserCookie& Cookie) {
    json param = {{"name", Cookie.Name},
                  {"value", Cookie.Value},
                  {"path", Cookie.Path},
                  {"secure", Cookie.Secure},
                  {"httpOnly", Cookie.HttpOnly}};
    // Built by appending: g++ 12 warns wrongly about "x" + std::string.
    std::string where = Cookie.IncludeSubdomains ? "." : Cookie.Secure ? "https://" : "http://";
    where.append(Cookie.Domain);
    if (Cookie.IncludeSubdomains) {
        param["domain"] = where;
    } else {
        where.append(Cookie.Path);
        param["url"] = where;
    }
    if (Cookie.Expires != 0)
        param["expires"] = Cookie.Expires;
    return param;
}

} // namespace larkspool
