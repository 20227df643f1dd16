#include "platform/wininet/HopRules.h"

#include "platform/AsciiText.h"
#include "platform/wininet/ResponseHead.h"

namespace larkspool::wininet {

VerbUse UseOfVerb(std::string_view Verb, bool HasBody) {
    if (Verb == "HEAD")
        return {true, false, false};
    if (HasBody || Verb == "POST")
        return {false, true, Verb != "POST"};
    return {false, false, Verb != "GET"};
}

std::vector<std::string> RequestHeaderLines(std::string_view Fixed, std::string_view Added,
                                            bool SendsBody) {
    std::vector<std::string> lines;
    bool userContentType = false;
    auto addLine = [&](std::string_view line) {
        line = TrimBlanks(line);
        if (line.empty())
            return;
        std::size_t colon = line.find(':');
        if (colon != std::string_view::npos &&
            EqualsNoCase(TrimBlanks(line.substr(0, colon)), "Content-Type"))
            userContentType = true;
        lines.emplace_back(line);
    };
    for (std::string_view block : {Fixed, Added}) {
        while (!block.empty()) {
            std::size_t end = block.find('\n');
            addLine(block.substr(0, end));
            block.remove_prefix(end == std::string_view::npos ? block.size() : end + 1);
        }
    }
    if (SendsBody) {
        if (!userContentType)
            lines.emplace_back("Content-Type:");
        lines.emplace_back("Expect:");
    }
    return lines;
}

std::optional<long> ConnectTimeoutMs(DWORD ConnectionTimeout, DWORD InternetTimeout) {
    DWORD timeout = ConnectionTimeout != 0 ? ConnectionTimeout : InternetTimeout;
    if (timeout == 0 || timeout == 0xffffffffu)
        return std::nullopt;
    return static_cast<long>(timeout);
}

bool IsConnectionServer(std::string_view HopHost, long HopPort, bool HopSecure,
                        std::string_view ConnectionHost, INTERNET_PORT ConnectionPort) {
    return EqualsNoCase(HopHost, ConnectionHost) &&
           HopPort == PortOrDefault(ConnectionPort, HopSecure);
}

CredentialUse ChooseCredentials(DWORD RequestFlags, bool ToConnectionServer,
                                std::string_view UserName, std::string_view ProxyUserName) {
    bool mayAuthenticate = !(RequestFlags & INTERNET_FLAG_NO_AUTH);
    return {mayAuthenticate && ToConnectionServer && !UserName.empty(),
            mayAuthenticate && !ProxyUserName.empty()};
}

bool MayBeAnswered(long Code, CredentialUse Credentials) {
    return (Code == 401 && Credentials.Server) || (Code == 407 && Credentials.Proxy);
}

std::optional<RedirectPlan> PlanRedirect(long Code, std::string_view Head, const std::string& Url,
                                         bool Secure, int Hops, DWORD RequestFlags) {
    if (!IsRedirect(Code) || (RequestFlags & INTERNET_FLAG_NO_AUTO_REDIRECT))
        return std::nullopt;
    std::optional<std::string> location = FindHeader(Head, "Location", 0);
    if (!location || location->empty())
        return std::nullopt;
    std::optional<ResolvedUrl> next = ResolveUrl(Url, *location);
    if (!next || (next->Scheme != "http" && next->Scheme != "https"))
        return std::nullopt;
    RedirectPlan plan{std::move(*next)};
    bool toSecure = plan.Next.Scheme == "https";
    if (Hops >= MaxRedirects)
        plan.Error = ERROR_HTTP_REDIRECT_FAILED;
    else if (toSecure && !Secure && !(RequestFlags & INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTPS))
        plan.Error = ERROR_INTERNET_HTTP_TO_HTTPS_ON_REDIR;
    else if (!toSecure && Secure && !(RequestFlags & INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTP))
        plan.Error = ERROR_INTERNET_HTTPS_TO_HTTP_ON_REDIR;
    return plan;
}

bool RedirectBecomesGet(long Code, std::string_view Verb) {
    return (Code == 303 && Verb != "HEAD") || ((Code == 301 || Code == 302) && Verb == "POST");
}

} // namespace larkspool::wininet
