#include "platform/wininet/WinInetEngine.h"

#include "platform/AsciiText.h"
#include "platform/UrlText.h"

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <cstring>
#include <netinet/in.h>
#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>
#include <sys/socket.h>
#include <unistd.h>

namespace larkspool::wininet {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int MaxRedirects = 10;
// Body progress (INTERNET_STATUS_RESPONSE_RECEIVED) is reported per this many
// bytes or this much time, not per network read: each report may cost the
// caller a thread switch.
constexpr std::uint64_t ReportEveryBytes = 1 << 20;
// A response head this large was cut off by libcurl's own limit.
constexpr std::size_t HugeHead = 100 << 10;
constexpr auto ReportEveryTime = std::chrono::milliseconds(100);
constexpr long ReceiveBufferSize = 128 * 1024;
constexpr long AuthMethods = CURLAUTH_BASIC | CURLAUTH_DIGEST | CURLAUTH_NTLM;

// Percent-escapes what may not stand in a request line; '%' stays, so text
// that is escaped already passes unchanged.
std::string EscapeForUrl(std::string_view Text) {
    std::string out;
    out.reserve(Text.size());
    AppendPercentEncoded(out, Text, [](unsigned char b) {
        return b <= 0x20 || b >= 0x7f || std::strchr("\"<>\\^`{|}", b) != nullptr;
    });
    return out;
}

// Scheme, host and port of an absolute URL, with the fragment and any user
// name or password removed from the text.
struct UrlParts {
    std::string Text, Scheme, Host;
    long Port = 0;
};

std::optional<UrlParts> ResolveUrl(const std::string& Base, const std::string& Reference) {
    CURLU* u = curl_url();
    if (u == nullptr)
        return std::nullopt;
    std::optional<UrlParts> parts;
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
            parts = UrlParts{text, LowerAscii(scheme), host, std::strtol(port, nullptr, 10)};
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

long DefaultPort(bool Secure) {
    return Secure ? INTERNET_DEFAULT_HTTPS_PORT : INTERNET_DEFAULT_HTTP_PORT;
}

bool IsRedirect(long Code) {
    return Code == 301 || Code == 302 || Code == 303 || Code == 307 || Code == 308;
}

// Accepts a certificate that is only out of its validity dates, for
// INTERNET_FLAG_IGNORE_CERT_DATE_INVALID; every other fault still fails.
int VerifyIgnoringDates(int Ok, X509_STORE_CTX* Store) {
    if (Ok == 0) {
        int error = X509_STORE_CTX_get_error(Store);
        if (error == X509_V_ERR_CERT_HAS_EXPIRED || error == X509_V_ERR_CERT_NOT_YET_VALID) {
            X509_STORE_CTX_set_error(Store, X509_V_OK);
            return 1;
        }
    }
    return Ok;
}

CURLcode InstallDateLenientVerify(CURL*, void* SslContext, void*) {
    SSL_CTX_set_verify(static_cast<SSL_CTX*>(SslContext), SSL_VERIFY_PEER, VerifyIgnoringDates);
    return CURLE_OK;
}

DWORD MapCurlError(CURLcode Code, long VerifyResult) {
    switch (Code) {
    case CURLE_OK:
        return ERROR_SUCCESS;
    case CURLE_UNSUPPORTED_PROTOCOL:
        return ERROR_INTERNET_UNRECOGNIZED_SCHEME;
    case CURLE_URL_MALFORMAT:
        return ERROR_INTERNET_INVALID_URL;
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_RESOLVE_HOST:
        return ERROR_INTERNET_NAME_NOT_RESOLVED;
    case CURLE_COULDNT_CONNECT:
        return ERROR_INTERNET_CANNOT_CONNECT;
    case CURLE_OPERATION_TIMEDOUT:
        return ERROR_INTERNET_TIMEOUT;
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_GOT_NOTHING:
        return ERROR_HTTP_INVALID_SERVER_RESPONSE;
    case CURLE_PARTIAL_FILE:
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
        return ERROR_INTERNET_CONNECTION_ABORTED;
    case CURLE_TOO_MANY_REDIRECTS:
        return ERROR_HTTP_REDIRECT_FAILED;
    case CURLE_ABORTED_BY_CALLBACK:
        return ERROR_INTERNET_OPERATION_CANCELLED;
    case CURLE_OUT_OF_MEMORY:
        return ERROR_NOT_ENOUGH_MEMORY;
    case CURLE_PEER_FAILED_VERIFICATION:
        switch (VerifyResult) {
        case X509_V_ERR_CERT_HAS_EXPIRED:
        case X509_V_ERR_CERT_NOT_YET_VALID:
            return ERROR_INTERNET_SEC_CERT_DATE_INVALID;
        case X509_V_OK:
        case X509_V_ERR_UNSPECIFIED: // what libcurl's own name check leaves on failure
        case X509_V_ERR_HOSTNAME_MISMATCH:
        case X509_V_ERR_IP_ADDRESS_MISMATCH:
            return ERROR_INTERNET_SEC_CERT_CN_INVALID;
        default:
            return ERROR_INTERNET_SEC_INVALID_CERT;
        }
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_CIPHER:
        return ERROR_INTERNET_SECURITY_CHANNEL_ERROR;
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
        return ERROR_INTERNET_SEC_CERT_ERRORS;
    default:
        return ERROR_INTERNET_INTERNAL_ERROR;
    }
}

} // namespace

void ByteQueue::Append(const char* Bytes, std::size_t Size) {
    if (Size == 0)
        return;
    if (Count + Size > Ring.size()) {
        std::vector<char> larger(std::max({Ring.size() * 2, Count + Size, std::size_t(64 << 10)}));
        std::size_t kept = Take(larger.data(), Count);
        Ring.swap(larger);
        Head = 0;
        Count = kept;
    }
    std::size_t tail = (Head + Count) % Ring.size();
    std::size_t first = std::min(Size, Ring.size() - tail);
    std::memcpy(Ring.data() + tail, Bytes, first);
    std::memcpy(Ring.data(), Bytes + first, Size - first);
    Count += Size;
}

std::size_t ByteQueue::Take(char* Out, std::size_t Size) {
    std::size_t n = std::min(Size, Count);
    if (n == 0)
        return 0;
    std::size_t first = std::min(n, Ring.size() - Head);
    std::memcpy(Out, Ring.data() + Head, first);
    std::memcpy(Out + first, Ring.data(), n - first);
    Head = (Head + n) % Ring.size();
    Count -= n;
    return n;
}

std::optional<std::string> FindHeader(std::string_view Head, std::string_view Name, DWORD Index) {
    std::size_t pos = Head.find('\n'); // past the status line
    while (pos != std::string_view::npos && pos + 1 < Head.size()) {
        std::size_t begin = pos + 1;
        pos = Head.find('\n', begin);
        std::string_view line = Head.substr(
            begin, pos == std::string_view::npos ? std::string_view::npos : pos - begin);
        std::size_t colon = line.find(':');
        if (colon == std::string_view::npos ||
            !EqualsNoCase(TrimBlanks(line.substr(0, colon)), Name))
            continue;
        if (Index-- == 0)
            return std::string(TrimBlanks(line.substr(colon + 1)));
    }
    return std::nullopt;
}

// What the engine reports to a request's status callback.
struct Notice {
    enum class Payload { None, Text, Number, Result };
    Notice(std::shared_ptr<RequestObject> R, std::uint64_t G, DWORD S, Payload K = Payload::None)
        : Request(std::move(R)), Generation(G), Status(S), Kind(K) {}
    std::shared_ptr<RequestObject> Request;
    std::uint64_t Generation = 0;
    DWORD Status = 0;
    Payload Kind = Payload::None;
    std::string Text;
    DWORD Number = 0;
    INTERNET_ASYNC_RESULT Result{};
};

// One send of a request, followed through its redirects; lives on the engine
// thread. Each redirect hop is a transfer of its own (a fresh easy handle), so
// the hop's scheme, host and credentials are decided here and not by libcurl.
struct Transfer {
    Engine* Owner = nullptr;
    std::shared_ptr<RequestObject> Request;
    std::shared_ptr<InternetObject> Internet;
    std::uint64_t Generation = 0;
    CURL* Easy = nullptr;
    curl_slist* HeaderList = nullptr;
    char ErrorText[CURL_ERROR_SIZE] = {};

    // The request as the current hop sends it.
    std::string Url, Host, Verb, Headers, Body;
    long Port = 0;
    bool Secure = false, HasBody = false;
    bool WithCredentials = false, WithProxyCredentials = false;
    int Hops = 0;

    // The response being received. A 401/407 head is Tentative while libcurl
    // may still answer the challenge itself: the next thing that arrives
    // (body data, the end, or a new status line) tells.
    enum class Phase { None, Head, Tentative, Final, Redirect };
    Phase State = Phase::None;
    std::string HeadText;
    long Code = 0;
    std::optional<UrlParts> Next;
    DWORD RedirectError = 0;

    bool NameReported = false, Connecting = false;
    long RequestBytesReported = 0;
    std::uint64_t Unreported = 0;
    Clock::time_point LastReport = Clock::now();

    ~Transfer() {
        Stop();
        if (Request) {
            std::lock_guard lock(Request->Lock);
            Request->Transferring = false;
        }
    }
    void Stop() {
        if (Easy != nullptr) {
            curl_multi_remove_handle(Owner->Multi(), Easy);
            curl_easy_cleanup(Easy);
            Easy = nullptr;
        }
        curl_slist_free_all(HeaderList);
        HeaderList = nullptr;
    }

    void Notify(DWORD Status) { Owner->Queue(Notice{Request, Generation, Status}); }
    void NotifyText(DWORD Status, std::string Text) {
        Notice n{Request, Generation, Status, Notice::Payload::Text};
        n.Text = std::move(Text);
        Owner->Queue(std::move(n));
    }
    void NotifyNumber(DWORD Status, DWORD Number) {
        Notice n{Request, Generation, Status, Notice::Payload::Number};
        n.Number = Number;
        Owner->Queue(std::move(n));
    }
    void Complete(BOOL Result, DWORD Error) {
        Notice n{Request, Generation, INTERNET_STATUS_REQUEST_COMPLETE, Notice::Payload::Result};
        n.Result = {static_cast<DWORD_PTR>(Result), Error};
        Owner->Queue(std::move(n));
    }

    // Queues the bytes received since the last report; false when there
    // were none.
    bool ReportBytes() {
        LastReport = Clock::now();
        if (Unreported == 0)
            return false;
        NotifyNumber(INTERNET_STATUS_RESPONSE_RECEIVED,
                     static_cast<DWORD>(std::min<std::uint64_t>(Unreported, 0xffffffffu)));
        Unreported = 0;
        return true;
    }

    DWORD StartHop();
    void OnHeaderLine(std::string_view Line);
    void DecideHead();
    bool PlanRedirect();
    void Finalize();
    void Fail(DWORD Error);
    std::size_t OnBody(const char* Data, std::size_t Size);
    void AnswerRead(RequestObject& R);
    DWORD MapError(CURLcode Code);
    // Handles the end of the hop; false when the transfer is over.
    bool OnDone(CURLcode Code);
};

namespace {

std::size_t HeaderThunk(char* Data, std::size_t Size, std::size_t Count, void* User) {
    static_cast<Transfer*>(User)->OnHeaderLine(std::string_view(Data, Size * Count));
    return Size * Count;
}

std::size_t BodyThunk(char* Data, std::size_t Size, std::size_t Count, void* User) {
    return static_cast<Transfer*>(User)->OnBody(Data, Size * Count);
}

curl_socket_t OpenSocketThunk(void* User, curlsocktype Purpose, curl_sockaddr* Address) {
    auto& t = *static_cast<Transfer*>(User);
    int s = socket(Address->family, Address->socktype | SOCK_CLOEXEC, Address->protocol);
    if (s < 0)
        return CURL_SOCKET_BAD;
    if (Purpose == CURLSOCKTYPE_IPCXN && !t.NameReported) {
        t.NameReported = true;
        char text[INET6_ADDRSTRLEN] = {};
        const void* where = nullptr;
        if (Address->family == AF_INET)
            where = &reinterpret_cast<const sockaddr_in*>(&Address->addr)->sin_addr;
        else if (Address->family == AF_INET6)
            where = &reinterpret_cast<const sockaddr_in6*>(&Address->addr)->sin6_addr;
        if (where != nullptr)
            inet_ntop(Address->family, where, text, sizeof text);
        t.NotifyText(INTERNET_STATUS_RESOLVING_NAME, t.Host);
        t.NotifyText(INTERNET_STATUS_NAME_RESOLVED, text);
        t.NotifyText(INTERNET_STATUS_CONNECTING_TO_SERVER, text);
    }
    t.Connecting = true;
    t.Owner->SocketOpened(s);
    return s;
}

int CloseSocketThunk(void* User, curl_socket_t Socket) {
    static_cast<Engine*>(User)->SocketClosed(Socket);
    return close(Socket);
}

int PrereqThunk(void* User, char* PrimaryIp, char*, int, int LocalPort) {
    auto& t = *static_cast<Transfer*>(User);
    if (t.Connecting) {
        t.Connecting = false;
        t.NotifyText(INTERNET_STATUS_CONNECTED_TO_SERVER, PrimaryIp);
    }
    t.Owner->SocketInUse(LocalPort, &t);
    t.Notify(INTERNET_STATUS_SENDING_REQUEST);
    return CURL_PREREQFUNC_OK;
}

} // namespace

DWORD Transfer::StartHop() {
    Stop();
    State = Phase::None;
    HeadText.clear();
    Code = 0;
    Next.reset();
    RedirectError = 0;
    NameReported = Connecting = false;
    RequestBytesReported = 0;

    InternetObject& inet = *Internet;
    if (inet.Share == nullptr) {
        inet.Share = curl_share_init();
        if (inet.Share == nullptr)
            return ERROR_NOT_ENOUGH_MEMORY;
        // The engine is the only thread using the share, so it needs no locks.
        for (auto data : {CURL_LOCK_DATA_CONNECT, CURL_LOCK_DATA_DNS, CURL_LOCK_DATA_SSL_SESSION,
                          CURL_LOCK_DATA_COOKIE})
            curl_share_setopt(inet.Share, CURLSHOPT_SHARE, data);
    }
    Easy = curl_easy_init();
    if (Easy == nullptr)
        return ERROR_NOT_ENOUGH_MEMORY;
    CURL* e = Easy;
    RequestObject& r = *Request;
    ConnectionObject& conn = *r.Connection;
    ConnectionSettings settings = conn.Settings();

    curl_easy_setopt(e, CURLOPT_URL, Url.c_str());
    curl_easy_setopt(e, CURLOPT_PRIVATE, this);
    curl_easy_setopt(e, CURLOPT_SHARE, inet.Share);
    curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(e, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(e, CURLOPT_ERRORBUFFER, ErrorText);
    curl_easy_setopt(e, CURLOPT_BUFFERSIZE, ReceiveBufferSize);
    curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, HeaderThunk);
    curl_easy_setopt(e, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, BodyThunk);
    curl_easy_setopt(e, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(e, CURLOPT_OPENSOCKETFUNCTION, OpenSocketThunk);
    curl_easy_setopt(e, CURLOPT_OPENSOCKETDATA, this);
    // A pooled connection outlives this transfer: its close is reported to
    // the engine, which knows who uses the socket by then.
    curl_easy_setopt(e, CURLOPT_CLOSESOCKETFUNCTION, CloseSocketThunk);
    curl_easy_setopt(e, CURLOPT_CLOSESOCKETDATA, Owner);
    curl_easy_setopt(e, CURLOPT_PREREQFUNCTION, PrereqThunk);
    curl_easy_setopt(e, CURLOPT_PREREQDATA, this);
    curl_easy_setopt(e, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
    if (!inet.Agent.empty())
        curl_easy_setopt(e, CURLOPT_USERAGENT, inet.Agent.c_str());
    DWORD timeout =
        settings.ConnectTimeout != 0 ? settings.ConnectTimeout : inet.ConnectTimeout.load();
    if (timeout != 0 && timeout != 0xffffffffu)
        curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(timeout));

    // INTERNET_OPEN_TYPE_PRECONFIG leaves libcurl to the proxy variables of
    // the environment; a named proxy is used for every host, as WinInet does
    // without a bypass list.
    if (inet.AccessType == INTERNET_OPEN_TYPE_DIRECT) {
        curl_easy_setopt(e, CURLOPT_PROXY, "");
    } else if (inet.AccessType == INTERNET_OPEN_TYPE_PROXY) {
        curl_easy_setopt(e, CURLOPT_PROXY, (Secure ? inet.HttpsProxy : inet.HttpProxy).c_str());
        curl_easy_setopt(e, CURLOPT_NOPROXY, "");
    }
    if (!(r.Flags & INTERNET_FLAG_NO_COOKIES))
        curl_easy_setopt(e, CURLOPT_COOKIEFILE, "");

    if (Secure) {
        if (!inet.CaFile.empty())
            curl_easy_setopt(e, CURLOPT_CAINFO, inet.CaFile.c_str());
        if (r.Flags & INTERNET_FLAG_IGNORE_CERT_CN_INVALID)
            curl_easy_setopt(e, CURLOPT_SSL_VERIFYHOST, 0L);
        if (r.Flags & INTERNET_FLAG_IGNORE_CERT_DATE_INVALID) {
            curl_easy_setopt(e, CURLOPT_SSL_CTX_FUNCTION, InstallDateLenientVerify);
            // libcurl matches pooled connections and TLS sessions by their
            // settings, not by this hook. A different but equivalent cipher
            // list keeps the ones made with lenient dates away from requests
            // that check them.
            curl_easy_setopt(e, CURLOPT_SSL_CIPHER_LIST, "DEFAULT");
        }
    }

    // Credentials only answer a challenge (several methods make libcurl probe
    // first) and go only to the host and port of the connection handle.
    bool sameServer =
        EqualsNoCase(Host, conn.Host) && Port == (conn.Port != 0 ? conn.Port : DefaultPort(Secure));
    bool mayAuthenticate = !(r.Flags & INTERNET_FLAG_NO_AUTH);
    WithCredentials = mayAuthenticate && sameServer && !settings.UserName.empty();
    if (WithCredentials) {
        curl_easy_setopt(e, CURLOPT_USERNAME, settings.UserName.c_str());
        curl_easy_setopt(e, CURLOPT_PASSWORD, settings.Password.c_str());
        curl_easy_setopt(e, CURLOPT_HTTPAUTH, AuthMethods);
    }
    WithProxyCredentials = mayAuthenticate && !settings.ProxyUserName.empty();
    if (WithProxyCredentials) {
        curl_easy_setopt(e, CURLOPT_PROXYUSERNAME, settings.ProxyUserName.c_str());
        curl_easy_setopt(e, CURLOPT_PROXYPASSWORD, settings.ProxyPassword.c_str());
        curl_easy_setopt(e, CURLOPT_PROXYAUTH, AuthMethods);
    }

    // The body goes with any verb, as WinInet sends it.
    bool userContentType = false;
    auto addLine = [&](std::string_view line) {
        line = TrimBlanks(line);
        if (line.empty())
            return;
        std::size_t colon = line.find(':');
        if (colon != std::string_view::npos &&
            EqualsNoCase(TrimBlanks(line.substr(0, colon)), "Content-Type"))
            userContentType = true;
        HeaderList = curl_slist_append(HeaderList, std::string(line).c_str());
    };
    for (std::string_view block : {std::string_view(r.FixedHeaders), std::string_view(Headers)}) {
        while (!block.empty()) {
            std::size_t end = block.find('\n');
            addLine(block.substr(0, end));
            block.remove_prefix(end == std::string_view::npos ? block.size() : end + 1);
        }
    }
    if (Verb == "HEAD") {
        curl_easy_setopt(e, CURLOPT_NOBODY, 1L);
    } else if (HasBody || Verb == "POST") {
        curl_easy_setopt(e, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(Body.size()));
        curl_easy_setopt(e, CURLOPT_POSTFIELDS, Body.c_str());
        if (Verb != "POST")
            curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST, Verb.c_str());
        // libcurl would add these; WinInet sends neither.
        if (!userContentType)
            HeaderList = curl_slist_append(HeaderList, "Content-Type:");
        HeaderList = curl_slist_append(HeaderList, "Expect:");
    } else if (Verb != "GET") {
        curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST, Verb.c_str());
    }
    curl_easy_setopt(e, CURLOPT_HTTPHEADER, HeaderList);

    if (curl_multi_add_handle(Owner->Multi(), e) != CURLM_OK)
        return ERROR_INTERNET_INTERNAL_ERROR;
    return ERROR_SUCCESS;
}

void Transfer::OnHeaderLine(std::string_view Line) {
    if (Line.substr(0, 5) == "HTTP/") {
        // A new response; a tentative head before it was a challenge that
        // libcurl answered.
        State = Phase::Head;
        HeadText.clear();
        std::size_t space = Line.find(' ');
        Code =
            space == std::string_view::npos ? 0 : std::strtol(Line.data() + space + 1, nullptr, 10);
        long sent = 0;
        curl_easy_getinfo(Easy, CURLINFO_REQUEST_SIZE, &sent);
        NotifyNumber(INTERNET_STATUS_REQUEST_SENT,
                     static_cast<DWORD>(std::max(0L, sent - RequestBytesReported)));
        RequestBytesReported = sent;
        Notify(INTERNET_STATUS_RECEIVING_RESPONSE);
    }
    if (State != Phase::Head)
        return; // trailers of a chunked body
    while (!Line.empty() && (Line.back() == '\r' || Line.back() == '\n'))
        Line.remove_suffix(1);
    HeadText.append(Line);
    HeadText += "\r\n";
    if (!Line.empty())
        return;
    NotifyNumber(INTERNET_STATUS_RESPONSE_RECEIVED, static_cast<DWORD>(HeadText.size()));
    if (Code >= 100 && Code < 200) {
        State = Phase::None;
        Notify(INTERNET_STATUS_INTERMEDIATE_RESPONSE);
        return;
    }
    DecideHead();
}

void Transfer::DecideHead() {
    if (IsRedirect(Code) && !(Request->Flags & INTERNET_FLAG_NO_AUTO_REDIRECT) && PlanRedirect()) {
        State = Phase::Redirect;
        return;
    }
    if ((Code == 401 && WithCredentials) || (Code == 407 && WithProxyCredentials)) {
        State = Phase::Tentative;
        return;
    }
    Finalize();
}

// Decides where a 3xx leads, by WinInet's rules. False when it is to be
// returned to the caller as the response.
bool Transfer::PlanRedirect() {
    std::optional<std::string> location = FindHeader(HeadText, "Location", 0);
    if (!location || location->empty())
        return false;
    Next = ResolveUrl(Url, *location);
    if (!Next || (Next->Scheme != "http" && Next->Scheme != "https"))
        return false;
    DWORD flags = Request->Flags;
    bool toSecure = Next->Scheme == "https";
    if (Hops >= MaxRedirects)
        RedirectError = ERROR_HTTP_REDIRECT_FAILED;
    else if (toSecure && !Secure && !(flags & INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTPS))
        RedirectError = ERROR_INTERNET_HTTP_TO_HTTPS_ON_REDIR;
    else if (!toSecure && Secure && !(flags & INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTP))
        RedirectError = ERROR_INTERNET_HTTPS_TO_HTTP_ON_REDIR;
    return true;
}

void Transfer::Finalize() {
    State = Phase::Final;
    RequestObject& r = *Request;
    {
        std::lock_guard lock(r.Lock);
        if (r.Closed || r.Generation != Generation)
            return;
        r.Head = HeadText;
        r.Status = static_cast<DWORD>(Code);
        r.State = RequestState::Received;
    }
    Complete(TRUE, ERROR_SUCCESS);
}

void Transfer::Fail(DWORD Error) {
    RequestObject& r = *Request;
    {
        std::lock_guard lock(r.Lock);
        if (r.Closed || r.Generation != Generation)
            return;
        r.State = RequestState::Failed;
    }
    Complete(FALSE, Error);
}

std::size_t Transfer::OnBody(const char* Data, std::size_t Size) {
    if (State == Phase::Tentative)
        Finalize(); // libcurl does not pass on the body of a challenge it answers
    if (State != Phase::Final)
        return Size; // the body of a redirect
    RequestObject& r = *Request;
    {
        std::lock_guard lock(r.Lock);
        if (r.Closed || r.Generation != Generation)
            return Size;
        if (r.Buffered.Size() >= PauseAbove) {
            r.Paused = true;
            return CURL_WRITEFUNC_PAUSE; // libcurl keeps this data and offers it again
        }
        // A waiting read takes its part straight from libcurl's buffer.
        std::size_t direct = 0;
        if (r.ReadWaiting && r.Buffered.Size() == 0) {
            direct = std::min<std::size_t>(Size, r.ReadSize);
            std::memcpy(r.ReadInto, Data, direct);
            *r.ReadCount = static_cast<DWORD>(direct);
            r.ReadWaiting = false;
            Complete(TRUE, ERROR_SUCCESS);
        }
        r.Buffered.Append(Data + direct, Size - direct);
    }
    Unreported += Size;
    if (Unreported >= ReportEveryBytes)
        ReportBytes();
    return Size;
}

// Gives a waiting read what there is: data, the end, or the failure. Called
// with R's lock held.
void Transfer::AnswerRead(RequestObject& R) {
    if (!R.ReadWaiting)
        return;
    BOOL result = TRUE;
    DWORD error = ERROR_SUCCESS;
    if (R.Buffered.Size() > 0) {
        *R.ReadCount = static_cast<DWORD>(R.Buffered.Take(R.ReadInto, R.ReadSize));
    } else if (R.Ended) {
        *R.ReadCount = 0;
    } else if (R.ReadError != 0) {
        *R.ReadCount = 0;
        result = FALSE;
        error = R.ReadError;
    } else {
        return;
    }
    R.ReadWaiting = false;
    R.ReadInto = nullptr;
    R.ReadCount = nullptr;
    Complete(result, error);
}

DWORD Transfer::MapError(CURLcode Code) {
    long verify = X509_V_OK;
    if (Code == CURLE_PEER_FAILED_VERIFICATION)
        curl_easy_getinfo(Easy, CURLINFO_SSL_VERIFYRESULT, &verify);
    return MapCurlError(Code, verify);
}

bool Transfer::OnDone(CURLcode Result) {
    if (State == Phase::Redirect && Result == CURLE_OK) {
        if (RedirectError != 0) {
            Fail(RedirectError);
            return false;
        }
        ++Hops;
        NotifyText(INTERNET_STATUS_REDIRECT, Next->Text);
        // As browsers do: 303 turns any verb but HEAD into a GET, and 301 and
        // 302 turn a POST into one; 307 and 308 send the same again.
        if ((Code == 303 && Verb != "HEAD") || ((Code == 301 || Code == 302) && Verb == "POST")) {
            Verb = "GET";
            Body.clear();
            HasBody = false;
        }
        Url = Next->Text;
        Host = Next->Host;
        Port = Next->Port;
        Secure = Next->Scheme == "https";
        DWORD error = StartHop();
        if (error != ERROR_SUCCESS) {
            Fail(error);
            return false;
        }
        return true;
    }
    if (State == Phase::Tentative && Result == CURLE_OK)
        Finalize();
    if (State != Phase::Final) {
        long connectCode = 0;
        curl_easy_getinfo(Easy, CURLINFO_HTTP_CONNECTCODE, &connectCode);
        if (Result != CURLE_OK && connectCode == 407) {
            // The proxy refused the tunnel: the caller sees its answer as
            // the response, as it would for a plain request.
            HeadText = "HTTP/1.1 407 Proxy Authentication Required\r\n\r\n";
            Code = 407;
            Finalize();
            Result = CURLE_OK;
        } else {
            if (Result == CURLE_COULDNT_RESOLVE_HOST && !NameReported)
                NotifyText(INTERNET_STATUS_RESOLVING_NAME, Host);
            // libcurl gives up on a head beyond its fixed limit (300 KB) as
            // on a broken connection; the server is at fault, not the line.
            const bool headTooLarge = State == Phase::Head && HeadText.size() >= HugeHead;
            Fail(Result == CURLE_OK || headTooLarge ? ERROR_HTTP_INVALID_SERVER_RESPONSE
                                                    : MapError(Result));
            return false;
        }
    }
    // The last bytes are reported before the reader learns that the body has
    // ended: it closes the request then, and a report still queued would be
    // dropped, so the caller would miss bytes it received.
    if (ReportBytes())
        Owner->Deliver();
    RequestObject& r = *Request;
    std::lock_guard lock(r.Lock);
    if (!r.Closed && r.Generation == Generation) {
        if (Result == CURLE_OK)
            r.Ended = true;
        else
            r.ReadError = MapError(Result);
        AnswerRead(r);
    }
    return false;
}

Engine& Engine::Get() {
    static Engine engine;
    return engine;
}

Engine::Engine() {
    curl_global_init(CURL_GLOBAL_DEFAULT);
    MultiHandle = curl_multi_init();
    curl_multi_setopt(MultiHandle, CURLMOPT_MAXCONNECTS, 32L);
    Thread = std::thread([this] { Run(); });
    ThreadId = Thread.get_id();
}

Engine::~Engine() {
    {
        std::lock_guard lock(QueueLock);
        Stopping = true;
    }
    curl_multi_wakeup(MultiHandle);
    Thread.join();
    curl_multi_cleanup(MultiHandle);
}

HINTERNET Engine::Register(std::shared_ptr<HandleObject> Object) {
    std::lock_guard lock(TableLock);
    std::uintptr_t id = NextId++;
    Object->Handle = reinterpret_cast<HINTERNET>(id);
    Table.emplace(id, std::move(Object));
    return reinterpret_cast<HINTERNET>(id);
}

std::shared_ptr<HandleObject> Engine::Find(HINTERNET Handle) {
    std::lock_guard lock(TableLock);
    auto it = Table.find(reinterpret_cast<std::uintptr_t>(Handle));
    return it == Table.end() ? nullptr : it->second;
}

std::vector<std::shared_ptr<HandleObject>> Engine::Unregister(HINTERNET Handle) {
    std::vector<std::shared_ptr<HandleObject>> removed;
    std::lock_guard lock(TableLock);
    auto it = Table.find(reinterpret_cast<std::uintptr_t>(Handle));
    if (it == Table.end())
        return removed;
    HandleObject* root = it->second.get();
    for (auto kind : {HandleKind::Request, HandleKind::Connection, HandleKind::Internet}) {
        for (auto entry = Table.begin(); entry != Table.end();) {
            HandleObject* h = entry->second.get();
            bool under = h == root ||
                         (h->Parent && (h->Parent.get() == root ||
                                        (h->Parent->Parent && h->Parent->Parent.get() == root)));
            if (under && h->Kind == kind) {
                removed.push_back(std::move(entry->second));
                entry = Table.erase(entry);
            } else {
                ++entry;
            }
        }
    }
    return removed;
}

void Engine::Post(Command&& Item, bool Wake) {
    bool wake = false;
    {
        std::lock_guard lock(QueueLock);
        Commands.push_back(std::move(Item));
        if (Wake && Polling && !WakeSent)
            wake = WakeSent = true;
    }
    if (wake)
        curl_multi_wakeup(MultiHandle);
}

void Engine::Send(const std::shared_ptr<RequestObject>& Request, std::uint64_t Generation) {
    Post({Op::Send, Request, nullptr, Generation});
}

void Engine::Resume(const std::shared_ptr<RequestObject>& Request) {
    Post({Op::Resume, Request, nullptr, 0});
}

void Engine::Discard(const std::shared_ptr<RequestObject>& Request, bool Urgent) {
    Post({Op::Discard, Request, nullptr, 0}, Urgent);
}

void Engine::Release(const std::shared_ptr<InternetObject>& Internet) {
    Post({Op::Release, nullptr, Internet, 0});
}

void Engine::Queue(Notice&& Item) {
    Notices.push_back(std::move(Item));
}

void Engine::SocketOpened(int Socket) {
    Sockets[Socket] = SocketUser{};
}

// libcurl does not say which socket a transfer uses until it is done; the
// local port it does say picks it out. Connection attempts that lose (one per
// address family) are never used, so their closing is not reported.
void Engine::SocketInUse(int LocalPort, Transfer* Owner) {
    for (auto& [socket, user] : Sockets) {
        sockaddr_storage address{};
        socklen_t size = sizeof address;
        if (getsockname(socket, reinterpret_cast<sockaddr*>(&address), &size) != 0)
            continue;
        int port = address.ss_family == AF_INET6
                       ? ntohs(reinterpret_cast<sockaddr_in6*>(&address)->sin6_port)
                       : ntohs(reinterpret_cast<sockaddr_in*>(&address)->sin_port);
        if (port == LocalPort) {
            user = SocketUser{Owner->Request, Owner->Generation};
            return;
        }
    }
}

// A connection closes (the server's choice, or the pool's); the request
// whose transfer is using it hears of it.
void Engine::SocketClosed(int Socket) {
    auto it = Sockets.find(Socket);
    if (it == Sockets.end())
        return;
    std::shared_ptr<RequestObject> request = it->second.Request.lock();
    std::uint64_t generation = it->second.Generation;
    Sockets.erase(it);
    if (!request)
        return;
    auto t = Transfers.find(request.get());
    if (t != Transfers.end() && t->second->Generation == generation) {
        t->second->Notify(INTERNET_STATUS_CLOSING_CONNECTION);
        t->second->Notify(INTERNET_STATUS_CONNECTION_CLOSED);
    }
}

void Engine::Run() {
    for (;;) {
        std::deque<Command> batch;
        {
            std::lock_guard lock(QueueLock);
            batch.swap(Commands);
            if (Stopping && batch.empty())
                break;
        }
        for (Command& item : batch)
            Execute(item);
        int running = 0;
        curl_multi_perform(MultiHandle, &running);
        FinishTransfers();
        ReportProgress();
        Deliver();
        bool progressDue = std::any_of(Transfers.begin(), Transfers.end(),
                                       [](const auto& t) { return t.second->Unreported > 0; });
        {
            std::lock_guard lock(QueueLock);
            if (!Commands.empty() || Stopping)
                continue;
            Polling = true;
        }
        curl_multi_poll(MultiHandle, nullptr, 0, progressDue ? 100 : 1000, nullptr);
        std::lock_guard lock(QueueLock);
        Polling = WakeSent = false;
    }
    // Shutting down with handles still open: end their transfers, then
    // close the pooled connections.
    while (!Transfers.empty()) {
        auto owned = std::move(Transfers.begin()->second);
        Transfers.erase(Transfers.begin());
    }
    std::vector<std::shared_ptr<HandleObject>> open;
    {
        std::lock_guard lock(TableLock);
        for (auto& entry : Table)
            open.push_back(entry.second);
    }
    for (auto& h : open)
        if (h->Kind == HandleKind::Internet)
            ReleaseShare(static_cast<InternetObject&>(*h));
    Notices.clear();
}

void Engine::Execute(Command& Item) {
    auto drop = [this](RequestObject* request) {
        auto it = Transfers.find(request);
        if (it == Transfers.end())
            return;
        // Out of the map first: ending the transfer may close its socket,
        // which looks the transfer up.
        auto owned = std::move(it->second);
        Transfers.erase(it);
    };
    switch (Item.What) {
    case Op::Send:
        drop(Item.Request.get());
        Start(Item.Request, Item.Generation);
        break;
    case Op::Resume: {
        auto it = Transfers.find(Item.Request.get());
        RequestObject& r = *Item.Request;
        bool paused;
        {
            std::lock_guard lock(r.Lock);
            paused = r.Paused;
            r.Paused = r.ResumeAsked = false;
        }
        // Unpausing may hand held data to the write callback right here.
        if (paused && it != Transfers.end() && it->second->Easy != nullptr)
            curl_easy_pause(it->second->Easy, CURLPAUSE_CONT);
        break;
    }
    case Op::Discard:
        drop(Item.Request.get());
        break;
    case Op::Release:
        ReleaseShare(*Item.Internet);
        break;
    }
}

void Engine::Start(const std::shared_ptr<RequestObject>& Request, std::uint64_t Generation) {
    RequestObject& r = *Request;
    auto t = std::make_unique<Transfer>();
    {
        std::lock_guard lock(r.Lock);
        if (r.Closed || r.Generation != Generation)
            return;
        r.Transferring = true; // until t ends, whichever way
        t->Headers = r.Headers;
        t->Body = r.Body;
    }
    ConnectionObject& conn = *r.Connection;
    t->Owner = this;
    t->Request = Request;
    t->Internet = conn.Internet;
    t->Generation = Generation;
    t->Verb = r.Verb;
    t->HasBody = !t->Body.empty();
    t->Secure = (r.Flags & INTERNET_FLAG_SECURE) != 0;
    t->Host = conn.Host;
    t->Port = conn.Port != 0 ? conn.Port : DefaultPort(t->Secure);
    t->Url = std::string(t->Secure ? "https://" : "http://") + HostForUrl(conn.Host) + ":" +
             std::to_string(t->Port) + EscapeForUrl(r.Object);
    if (t->Internet->Released) {
        t->Fail(ERROR_INTERNET_OPERATION_CANCELLED);
        return;
    }
    DWORD error = t->StartHop();
    if (error != ERROR_SUCCESS) {
        t->Fail(error);
        return;
    }
    Transfers.emplace(&r, std::move(t));
}

void Engine::FinishTransfers() {
    int left = 0;
    while (CURLMsg* message = curl_multi_info_read(MultiHandle, &left)) {
        if (message->msg != CURLMSG_DONE)
            continue;
        Transfer* t = nullptr;
        curl_easy_getinfo(message->easy_handle, CURLINFO_PRIVATE, &t);
        CURLcode result = message->data.result;
        if (t == nullptr || t->OnDone(result))
            continue;
        auto it = Transfers.find(t->Request.get());
        if (it != Transfers.end() && it->second.get() == t) {
            auto owned = std::move(it->second);
            Transfers.erase(it);
        }
    }
}

void Engine::ReportProgress() {
    Clock::time_point now = Clock::now();
    for (auto& entry : Transfers) {
        Transfer& t = *entry.second;
        if (t.Unreported > 0 && now - t.LastReport >= ReportEveryTime)
            t.ReportBytes();
    }
}

void Engine::Deliver() {
    std::vector<Notice> batch;
    batch.swap(Notices);
    for (Notice& n : batch) {
        RequestObject& r = *n.Request;
        {
            std::lock_guard lock(r.Lock);
            if (r.Closed || r.Generation != n.Generation)
                continue;
            // A synchronous call waits for this instead; the notices before
            // it have been delivered by now.
            if (n.Status == INTERNET_STATUS_REQUEST_COMPLETE && !r.Connection->Internet->Async) {
                r.Completed = true;
                r.Result = static_cast<BOOL>(n.Result.dwResult);
                r.Error = n.Result.dwError;
                r.Changed.notify_all();
                continue;
            }
        }
        INTERNET_STATUS_CALLBACK callback = r.Callback.load();
        if (callback == nullptr || callback == INTERNET_INVALID_STATUS_CALLBACK || r.Context == 0)
            continue;
        switch (n.Kind) {
        case Notice::Payload::None:
            callback(r.Handle, r.Context, n.Status, nullptr, 0);
            break;
        case Notice::Payload::Text:
            callback(r.Handle, r.Context, n.Status, n.Text.data(),
                     static_cast<DWORD>(n.Text.size()));
            break;
        case Notice::Payload::Number:
            callback(r.Handle, r.Context, n.Status, &n.Number, sizeof n.Number);
            break;
        case Notice::Payload::Result:
            callback(r.Handle, r.Context, n.Status, &n.Result, sizeof n.Result);
            break;
        }
    }
    batch.clear();
    if (Notices.empty())
        Notices.swap(batch); // keep the capacity
}

void Engine::ReleaseShare(InternetObject& Internet) {
    Internet.Released = true;
    if (Internet.Share != nullptr && curl_share_cleanup(Internet.Share) == CURLSHE_OK)
        Internet.Share = nullptr;
}

} // namespace larkspool::wininet
