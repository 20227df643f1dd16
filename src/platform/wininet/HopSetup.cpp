// Setting up one hop of a transfer: a libcurl easy handle with the hop's
// address, callbacks, proxy, TLS checks, credentials, verb, headers and body.
// The options are set in this order; libcurl reads them when it starts.

#include "platform/wininet/Transfer.h"

#include "platform/wininet/ProxyAndTls.h"

#include <string>

#include <unistd.h>

namespace larkspool::wininet {

namespace {

constexpr long ReceiveBufferSize = 128 * 1024;
constexpr long AuthMethods = CURLAUTH_BASIC | CURLAUTH_DIGEST | CURLAUTH_NTLM;

std::size_t HeaderThunk(char* Data, std::size_t Size, std::size_t Count, void* User) {
    static_cast<Transfer*>(User)->OnHeaderLine(std::string_view(Data, Size * Count));
    return Size * Count;
}

std::size_t BodyThunk(char* Data, std::size_t Size, std::size_t Count, void* User) {
    return static_cast<Transfer*>(User)->OnBody(Data, Size * Count);
}

curl_socket_t OpenSocketThunk(void* User, curlsocktype Purpose, curl_sockaddr* Address) {
    return static_cast<Transfer*>(User)->OnOpenSocket(Purpose, *Address);
}

int CloseSocketThunk(void* User, curl_socket_t Socket) {
    static_cast<Engine*>(User)->SocketClosed(Socket);
    return close(Socket);
}

int PrereqThunk(void* User, char* PrimaryIp, char*, int, int LocalPort) {
    static_cast<Transfer*>(User)->OnRequestReady(PrimaryIp, LocalPort);
    return CURL_PREREQFUNC_OK;
}

// The content encodings offered to servers: those this libcurl can decode,
// named one by one rather than "all it has", so that what is asked for does
// not change with the build of libcurl beyond what it lacks.
const std::string& AcceptedEncodings() {
    static const std::string list = [] {
        const curl_version_info_data* info = curl_version_info(CURLVERSION_NOW);
        std::string out;
        if (info->features & CURL_VERSION_LIBZ)
            out = "gzip, deflate";
        if (info->features & CURL_VERSION_BROTLI)
            out += out.empty() ? "br" : ", br";
        return out;
    }();
    return list;
}

} // namespace

DWORD Transfer::StartHop() {
    ResetHop();
    if (DWORD error = EnsureShare(*Internet); error != ERROR_SUCCESS)
        return error;
    Easy = curl_easy_init();
    if (Easy == nullptr)
        return ERROR_NOT_ENOUGH_MEMORY;
    ConnectionSettings settings = Request->Connection->Settings();
    SetBasics();
    SetCallbacks();
    SetSession(settings);
    if (Secure)
        ApplyTls(Easy, Request->Flags, Internet->CaFile);
    SetCredentials(settings);
    SetVerbAndHeaders();
    if (curl_multi_add_handle(Owner->Multi(), Easy) != CURLM_OK)
        return ERROR_INTERNET_INTERNAL_ERROR;
    return ERROR_SUCCESS;
}

void Transfer::ResetHop() {
    Stop();
    State = Phase::None;
    HeadText.clear();
    Code = 0;
    Redirect.reset();
    NameReported = Connecting = false;
    RequestBytesReported = 0;
}

// Connections, DNS, TLS sessions and cookies are pooled per internet handle;
// its share is made by the first hop (or cookie) that needs it.
DWORD EnsureShare(InternetObject& inet) {
    if (inet.Share != nullptr)
        return ERROR_SUCCESS;
    inet.Share = curl_share_init();
    if (inet.Share == nullptr)
        return ERROR_NOT_ENOUGH_MEMORY;
    // The engine is the only thread using the share, so it needs no locks.
    for (auto data : {CURL_LOCK_DATA_CONNECT, CURL_LOCK_DATA_DNS, CURL_LOCK_DATA_SSL_SESSION,
                      CURL_LOCK_DATA_COOKIE})
        curl_share_setopt(inet.Share, CURLSHOPT_SHARE, data);
    return ERROR_SUCCESS;
}

void Transfer::SetBasics() {
    curl_easy_setopt(Easy, CURLOPT_URL, Url.c_str());
    curl_easy_setopt(Easy, CURLOPT_PRIVATE, this);
    curl_easy_setopt(Easy, CURLOPT_SHARE, Internet->Share);
    curl_easy_setopt(Easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(Easy, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(Easy, CURLOPT_ERRORBUFFER, ErrorText);
    curl_easy_setopt(Easy, CURLOPT_BUFFERSIZE, ReceiveBufferSize);
    // Bodies are asked for compressed and reach the reader decoded.
    if (!AcceptedEncodings().empty())
        curl_easy_setopt(Easy, CURLOPT_ACCEPT_ENCODING, AcceptedEncodings().c_str());
}

void Transfer::SetCallbacks() {
    curl_easy_setopt(Easy, CURLOPT_HEADERFUNCTION, HeaderThunk);
    curl_easy_setopt(Easy, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(Easy, CURLOPT_WRITEFUNCTION, BodyThunk);
    curl_easy_setopt(Easy, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(Easy, CURLOPT_OPENSOCKETFUNCTION, OpenSocketThunk);
    curl_easy_setopt(Easy, CURLOPT_OPENSOCKETDATA, this);
    // A pooled connection outlives this transfer: its close is reported to
    // the engine, which knows who uses the socket by then.
    curl_easy_setopt(Easy, CURLOPT_CLOSESOCKETFUNCTION, CloseSocketThunk);
    curl_easy_setopt(Easy, CURLOPT_CLOSESOCKETDATA, Owner);
    curl_easy_setopt(Easy, CURLOPT_PREREQFUNCTION, PrereqThunk);
    curl_easy_setopt(Easy, CURLOPT_PREREQDATA, this);
    // The header callback sees the server's heads only, not a proxy's
    // answer to CONNECT.
    curl_easy_setopt(Easy, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
}

// The user agent, connect timeout, proxy and cookie jar of the hop.
void Transfer::SetSession(const ConnectionSettings& Settings) {
    InternetObject& inet = *Internet;
    if (!inet.Agent.empty())
        curl_easy_setopt(Easy, CURLOPT_USERAGENT, inet.Agent.c_str());
    if (auto timeout = ConnectTimeoutMs(Settings.ConnectTimeout, inet.ConnectTimeout.load()))
        curl_easy_setopt(Easy, CURLOPT_CONNECTTIMEOUT_MS, *timeout);
    ApplyProxy(Easy, ChooseProxy(inet.AccessType, Secure, inet.Proxies));
    if (!(Request->Flags & INTERNET_FLAG_NO_COOKIES))
        curl_easy_setopt(Easy, CURLOPT_COOKIEFILE, "");
}

// Several methods make libcurl probe first, so credentials go out only in
// answer to a challenge.
void Transfer::SetCredentials(const ConnectionSettings& Settings) {
    const ConnectionObject& conn = *Request->Connection;
    Credentials = ChooseCredentials(Request->Flags,
                                    IsConnectionServer(Host, Port, Secure, conn.Host, conn.Port),
                                    Settings.UserName, Settings.ProxyUserName);
    if (Credentials.Server) {
        curl_easy_setopt(Easy, CURLOPT_USERNAME, Settings.UserName.c_str());
        curl_easy_setopt(Easy, CURLOPT_PASSWORD, Settings.Password.c_str());
        curl_easy_setopt(Easy, CURLOPT_HTTPAUTH, AuthMethods);
    }
    if (Credentials.Proxy) {
        curl_easy_setopt(Easy, CURLOPT_PROXYUSERNAME, Settings.ProxyUserName.c_str());
        curl_easy_setopt(Easy, CURLOPT_PROXYPASSWORD, Settings.ProxyPassword.c_str());
        curl_easy_setopt(Easy, CURLOPT_PROXYAUTH, AuthMethods);
    }
}

void Transfer::SetVerbAndHeaders() {
    VerbUse use = UseOfVerb(Verb, HasBody);
    if (use.NoBody) {
        curl_easy_setopt(Easy, CURLOPT_NOBODY, 1L);
    } else if (use.SendsBody) {
        curl_easy_setopt(Easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(Body.size()));
        curl_easy_setopt(Easy, CURLOPT_POSTFIELDS, Body.c_str());
    }
    if (use.NamedVerb)
        curl_easy_setopt(Easy, CURLOPT_CUSTOMREQUEST, Verb.c_str());
    for (const std::string& line :
         RequestHeaderLines(Request->FixedHeaders, Headers, use.SendsBody))
        HeaderList = curl_slist_append(HeaderList, line.c_str());
    curl_easy_setopt(Easy, CURLOPT_HTTPHEADER, HeaderList);
}

} // namespace larkspool::wininet
