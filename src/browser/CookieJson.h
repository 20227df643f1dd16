#pragma once

// Cookies as browsers describe them in JSON: the extension API's Cookie
// (domain, hostOnly, path, secure, httpOnly, session, expirationDate) and the
// DevTools protocol's (the same, with expires, and a leading dot on the
// domain instead of hostOnly).

#include "tools/Cookies.h"

#include <nlohmann/json.hpp>

#include <optional>
#include <vector>

namespace larkspool {

// Nothing for an entry that is not a usable cookie.
std::optional<BrowserCookie> CookieFromJson(const nlohmann::json& Cookie);
// The usable cookies of an array; anything else reads as none.
std::vector<BrowserCookie> CookiesFromJson(const nlohmann::json& Cookies);

// The cookie as a DevTools CookieParam (Storage.setCookies): a cookie for
// one host only is given by its address, as the protocol has no flag for it.
nlohmann::json CookieParam(const BrowserCookie& Cookie);

} // namespace larkspool
