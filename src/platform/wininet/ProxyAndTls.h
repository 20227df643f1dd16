#pragma once

// How a hop reaches its server: through which proxy, and with which
// certificate checks.

#include "platform/wininet/WinInet.h"

#include <string>
#include <string_view>

#include <curl/curl.h>
#include <openssl/types.h>

namespace larkspool::wininet {

// The proxies of INTERNET_OPEN_TYPE_PROXY, as URLs; empty: go direct.
struct ProxyList {
    std::string Http, Https;
};

// WinInet's proxy list: entries separated by blanks or semicolons, each
// "host:port", "scheme://host:port" or "http=..." / "https=..." for one kind
// of address only. A bare entry serves both kinds, unless one is named
// already.
ProxyList ParseProxyList(std::string_view List);

// The proxy of one hop. INTERNET_OPEN_TYPE_PRECONFIG leaves libcurl to the
// proxy variables of the environment; a named proxy is used for every host,
// as WinInet does without a bypass list.
struct ProxyChoice {
    enum class Kind { Environment, Direct, Named };
    Kind How = Kind::Environment;
    std::string Address; // for Named
};
ProxyChoice ChooseProxy(DWORD AccessType, bool Secure, const ProxyList& Proxies);

void ApplyProxy(CURL* Easy, const ProxyChoice& Choice);

// The certificate checks of an https hop: CaFile (empty: the system's trust
// store) and the request's INTERNET_FLAG_IGNORE_CERT_* flags.
void ApplyTls(CURL* Easy, DWORD RequestFlags, const std::string& CaFile);

// OpenSSL's verify callback for INTERNET_FLAG_IGNORE_CERT_DATE_INVALID:
// accepts a certificate that is only out of its validity dates; every other
// fault still fails.
int VerifyIgnoringDates(int Ok, X509_STORE_CTX* Store);

} // namespace larkspool::wininet
