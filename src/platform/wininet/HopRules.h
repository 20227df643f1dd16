#pragma once

// What one hop of a request sends and where the next one goes, decided
// apart from the libcurl handle that carries it out. Each redirect is a hop
// of its own, so these rules, not libcurl's, say what follows a redirect.

#include "platform/wininet/RequestUrl.h"
#include "platform/wininet/WinInet.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace larkspool::wininet {

constexpr int MaxRedirects = 10;

// How a hop's verb goes out. HEAD expects no body; any verb with a body (as
// WinInet sends it) and POST always send one; a verb libcurl would not
// choose by itself is named.
struct VerbUse {
    bool NoBody = false;
    bool SendsBody = false;
    bool NamedVerb = false;
};
VerbUse UseOfVerb(std::string_view Verb, bool HasBody);

// The header lines of a hop: those of HttpOpenRequestA (Fixed), then the
// caller's (Added), each trimmed, empty ones left out. With a body, lines
// that keep libcurl from adding a Content-Type (unless the caller gave one)
// and an Expect, neither of which WinInet sends.
std::vector<std::string> RequestHeaderLines(std::string_view Fixed, std::string_view Added,
                                            bool SendsBody);

// The connect timeout in milliseconds: the connection's own, else the
// internet handle's; nullopt for none (0 or 0xffffffff).
std::optional<long> ConnectTimeoutMs(DWORD ConnectionTimeout, DWORD InternetTimeout);

// Whether a hop goes to the host and port of the connection handle; its
// port 0 means the default of the hop's scheme.
bool IsConnectionServer(std::string_view HopHost, long HopPort, bool HopSecure,
                        std::string_view ConnectionHost, INTERNET_PORT ConnectionPort);

// Which credentials a hop offers. They only answer a challenge, never go out
// under INTERNET_FLAG_NO_AUTH, and the server's only to the connection's own
// server.
struct CredentialUse {
    bool Server = false;
    bool Proxy = false;
};
CredentialUse ChooseCredentials(DWORD RequestFlags, bool ToConnectionServer,
                                std::string_view UserName, std::string_view ProxyUserName);

// A 401 or 407 that libcurl may still answer itself, having credentials for
// it: only what comes next says whether the caller gets it.
bool MayBeAnswered(long Code, CredentialUse Credentials);

// Where a followed redirect leads; Error, when not 0, ends the request there
// instead.
struct RedirectPlan {
    ResolvedUrl Next;
    DWORD Error = 0;
};

// Decides by WinInet's rules whether the response with Head (status Code)
// to a hop of Url is a redirect to follow; nullopt when it goes to the
// caller as the response. Hops counts the redirects followed so far.
std::optional<RedirectPlan> PlanRedirect(long Code, std::string_view Head, const std::string& Url,
                                         bool Secure, int Hops, DWORD RequestFlags);

// As browsers do: 303 turns any verb but HEAD into a GET, and 301 and 302
// turn a POST into one; 307 and 308 send the same again.
bool RedirectBecomesGet(long Code, std::string_view Verb);

} // namespace larkspool::wininet
