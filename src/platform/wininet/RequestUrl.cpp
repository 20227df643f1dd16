#include "platform/wininet/RequestUrl.h"

#include "platform/AsciiText.h"
#include "platform/UrlText.h"
#include "platform/wininet/UrlParts.h"

#include <cstdlib>
#include <cstring>

#include <curl/curl.h>

namespace larkspool::wininet {

std::string EscapeForUrl(std::string_view Text) {
    std::string out;
    out.reserve(Text.size());
    AppendPercentEncoded(out, Text, [](unsigned char b) {
        return b <= 0x20 || b >= 0x7f || std::strchr("\"<>\\^`{|}", b) != nullptr;
    });
    return out;
}

std::optional<ResolvedUrl> ResolveUrl(const std::string& Base, const std::string& Reference) {
    CURLU* u = curl_url();
    if (u == nullptr)
        return std::nullopt;
    std::optional<ResolvedUrl> parts;
    std::string ref = EscapeForUrl(Reference);
    if (curl_url_set(u, CURLUPART_URL, Base.c_str(), CURLU_NON_SUPPORT_SCHEME) == CURLUE_OK &&
        curl_url_set(u, CURLUPART_URL, ref.c_str(), CURLU_NON_SUPPORT_SCHEME) == CURLUE_OK) {
        curl_url_set(u, CURLUPART_USER, nullptr, 0);
        curl_url_set(u, CURLUPART_PASSWORD, nullptr, 0);
        curl_url_set(u, CURLUPART_FRAGMENT, nullptr, 0);
        char *text = nullptr, *scheme = nullptr, *host = nullptr, *port = nullptr;
        if (curl_url_get(u, CURLUPART_URL, &text, 0) == CURLUE_OK &&
            curl_url_get(u, CURLUPART_SCHEME, &scheme, 0) == CURLUE_OK &&
            curl_url_get(u, CURLUPART_HOST, &host, 0) == CURLUE_OK &&
            curl_url_get(u, CURLUPART_PORT, &port, CURLU_DEFAULT_PORT) == CURLUE_OK) {
            parts = ResolvedUrl{text, LowerAscii(scheme), host, std::strtol(port, nullptr, 10)};
        }
        curl_free(text);
        curl_free(scheme);
        curl_free(host);
        curl_free(port);
    }
    curl_url_cleanup(u);
    return parts;
}

std::string HostForUrl(const std::string& Host) {
    if (Host.find(':') != std::string::npos && Host.front() != '[')
        return "[" + Host + "]";
    return Host;
}

long PortOrDefault(INTERNET_PORT Port, bool Secure) {
    if (Port != 0)
        return Port;
    return DefaultPort(Secure ? INTERNET_SCHEME_HTTPS : INTERNET_SCHEME_HTTP);
}

std::string FirstHopUrl(bool Secure, const std::string& Host, long Port, std::string_view Object) {
    return std::string(Secure ? "https://" : "http://") + HostForUrl(Host) + ":" +
           std::to_string(Port) + EscapeForUrl(Object);
}

} // namespace larkspool::wininet
