// A transfer as it runs: the connection's progress, the response heads, the
// body on its way to the reader, and the end of each hop.

#include "platform/wininet/Transfer.h"

#include "platform/wininet/CurlErrors.h"
#include "platform/wininet/ResponseHead.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cstring>
#include <netinet/in.h>
#include <openssl/x509_vfy.h>
#include <sys/socket.h>

namespace larkspool::wininet {

namespace {

// A response head this large was cut off by libcurl's own limit.
constexpr std::size_t HugeHead = 100 << 10;

// The numeric address of a socket address, as text; empty for other families.
std::string AddressText(const curl_sockaddr& Address) {
    char text[INET6_ADDRSTRLEN] = {};
    const void* where = nullptr;
    if (Address.family == AF_INET)
        where = &reinterpret_cast<const sockaddr_in*>(&Address.addr)->sin_addr;
    else if (Address.family == AF_INET6)
        where = &reinterpret_cast<const sockaddr_in6*>(&Address.addr)->sin6_addr;
    if (where != nullptr)
        inet_ntop(Address.family, where, text, sizeof text);
    return text;
}

} // namespace

Transfer::~Transfer() {
    Stop();
    if (Request) {
        std::lock_guard lock(Request->Lock);
        Request->Transferring = false;
    }
}

void Transfer::Stop() {
    if (Easy != nullptr) {
        curl_multi_remove_handle(Owner->Multi(), Easy);
        curl_easy_cleanup(Easy);
        Easy = nullptr;
    }
    curl_slist_free_all(HeaderList);
    HeaderList = nullptr;
}

void Transfer::Notify(DWORD Status) {
    Owner->Queue(Notice{Request, Generation, Status});
}

void Transfer::NotifyText(DWORD Status, std::string Text) {
    Notice n{Request, Generation, Status, Notice::Payload::Text};
    n.Text = std::move(Text);
    Owner->Queue(std::move(n));
}

void Transfer::NotifyNumber(DWORD Status, DWORD Number) {
    Notice n{Request, Generation, Status, Notice::Payload::Number};
    n.Number = Number;
    Owner->Queue(std::move(n));
}

void Transfer::Complete(BOOL Result, DWORD Error) {
    Notice n{Request, Generation, INTERNET_STATUS_REQUEST_COMPLETE, Notice::Payload::Result};
    n.Result = {static_cast<DWORD_PTR>(Result), Error};
    Owner->Queue(std::move(n));
}

bool Transfer::ReportBytes() {
    LastReport = Clock::now();
    if (Unreported == 0)
        return false;
    NotifyNumber(INTERNET_STATUS_RESPONSE_RECEIVED,
                 static_cast<DWORD>(std::min<std::uint64_t>(Unreported, 0xffffffffu)));
    Unreported = 0;
    return true;
}

// libcurl counts the body as received, before decoding, and starts again at
// 0 for each response (an answered challenge is a new response).
void Transfer::CountWireBytes() {
    curl_off_t now = 0;
    if (Easy == nullptr || curl_easy_getinfo(Easy, CURLINFO_SIZE_DOWNLOAD_T, &now) != CURLE_OK)
        return;
    if (now < WireCounted)
        WireCounted = 0;
    Unreported += static_cast<std::uint64_t>(now - WireCounted);
    WireCounted = now;
}

bool Transfer::ReportDue(Clock::time_point Now) const {
    return Unreported > 0 && Now - LastReport >= ReportEveryTime;
}

// The first connection attempt of a hop reports the name as resolved.
curl_socket_t Transfer::OnOpenSocket(curlsocktype Purpose, const curl_sockaddr& Address) {
    int s = socket(Address.family, Address.socktype | SOCK_CLOEXEC, Address.protocol);
    if (s < 0)
        return CURL_SOCKET_BAD;
    if (Purpose == CURLSOCKTYPE_IPCXN && !NameReported) {
        NameReported = true;
        std::string text = AddressText(Address);
        NotifyText(INTERNET_STATUS_RESOLVING_NAME, Host);
        NotifyText(INTERNET_STATUS_NAME_RESOLVED, text);
        NotifyText(INTERNET_STATUS_CONNECTING_TO_SERVER, text);
    }
    Connecting = true;
    Owner->SocketOpened(s);
    return s;
}

// The connection stands (new or pooled) and the request is about to go out.
void Transfer::OnRequestReady(const char* PrimaryIp, int LocalPort) {
    if (Connecting) {
        Connecting = false;
        NotifyText(INTERNET_STATUS_CONNECTED_TO_SERVER, PrimaryIp);
    }
    Owner->SocketInUse(LocalPort, this);
    Notify(INTERNET_STATUS_SENDING_REQUEST);
}

void Transfer::OnHeaderLine(std::string_view Line) {
    if (IsStatusLine(Line)) {
        // A new response; a tentative head before it was a challenge that
        // libcurl answered.
        State = Phase::Head;
        HeadText.clear();
        Code = StatusCodeOf(Line);
        long sent = 0;
        curl_easy_getinfo(Easy, CURLINFO_REQUEST_SIZE, &sent);
        NotifyNumber(INTERNET_STATUS_REQUEST_SENT,
                     static_cast<DWORD>(std::max(0L, sent - RequestBytesReported)));
        RequestBytesReported = sent;
        curl_easy_getinfo(Easy, CURLINFO_SIZE_DOWNLOAD_T, &WireCounted);
        Notify(INTERNET_STATUS_RECEIVING_RESPONSE);
    }
    if (State != Phase::Head)
        return; // trailers of a chunked body
    Line = WithoutLineEnd(Line);
    HeadText.append(Line);
    HeadText += "\r\n";
    if (!Line.empty())
        return;
    NotifyNumber(INTERNET_STATUS_RESPONSE_RECEIVED, static_cast<DWORD>(HeadText.size()));
    if (IsInformational(Code)) {
        State = Phase::None;
        Notify(INTERNET_STATUS_INTERMEDIATE_RESPONSE);
        return;
    }
    DecideHead();
}

void Transfer::DecideHead() {
    Redirect = PlanRedirect(Code, HeadText, Url, Secure, Hops, Request->Flags);
    if (Redirect) {
        State = Phase::Redirect;
        return;
    }
    if (MayBeAnswered(Code, Credentials)) {
        State = Phase::Tentative;
        return;
    }
    Finalize();
}

// The head is the caller's response: HttpSendRequestA completes.
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
    // Decoded, Size says little of what came over the wire. libcurl may count
    // a chunk of a chunked body only after passing it on: the end of the
    // body catches up.
    CountWireBytes();
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
    if (State == Phase::Redirect && Result == CURLE_OK)
        return FollowRedirect();
    if (State == Phase::Tentative && Result == CURLE_OK)
        Finalize();
    if (State != Phase::Final) {
        if (!IsProxyRefusal(Result)) {
            FailHop(Result);
            return false;
        }
        // The proxy refused the tunnel: the caller sees its answer as the
        // response, as it would for a plain request.
        HeadText = "HTTP/1.1 407 Proxy Authentication Required\r\n\r\n";
        Code = 407;
        Finalize();
        Result = CURLE_OK;
    }
    EndBody(Result);
    return false;
}

// Starts the hop a redirect leads to; false when the transfer is over.
bool Transfer::FollowRedirect() {
    if (Redirect->Error != 0) {
        Fail(Redirect->Error);
        return false;
    }
    ResolvedUrl next = std::move(Redirect->Next);
    ++Hops;
    NotifyText(INTERNET_STATUS_REDIRECT, next.Text);
    if (RedirectBecomesGet(Code, Verb)) {
        Verb = "GET";
        Body.clear();
        HasBody = false;
    }
    Url = std::move(next.Text);
    Host = std::move(next.Host);
    Port = next.Port;
    Secure = next.Scheme == "https";
    DWORD error = StartHop();
    if (error != ERROR_SUCCESS) {
        Fail(error);
        return false;
    }
    return true;
}

bool Transfer::IsProxyRefusal(CURLcode Result) {
    long connectCode = 0;
    curl_easy_getinfo(Easy, CURLINFO_HTTP_CONNECTCODE, &connectCode);
    return Result != CURLE_OK && connectCode == 407;
}

// The hop ended before the caller had a response.
void Transfer::FailHop(CURLcode Result) {
    if (Result == CURLE_COULDNT_RESOLVE_HOST && !NameReported)
        NotifyText(INTERNET_STATUS_RESOLVING_NAME, Host);
    // libcurl gives up on a head beyond its fixed limit (300 KB) as on a
    // broken connection; the server is at fault, not the line.
    const bool headTooLarge = State == Phase::Head && HeadText.size() >= HugeHead;
    Fail(Result == CURLE_OK || headTooLarge ? ERROR_HTTP_INVALID_SERVER_RESPONSE
                                            : MapError(Result));
}

// The body has ended, whole or broken off: a waiting read hears of it.
void Transfer::EndBody(CURLcode Result) {
    // The last bytes are reported before the reader learns that the body has
    // ended: it closes the request then, and a report still queued would be
    // dropped, so the caller would miss bytes it received.
    CountWireBytes();
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
}

} // namespace larkspool::wininet
