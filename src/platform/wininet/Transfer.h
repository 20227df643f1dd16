#pragma once

// One send of a request, followed through its redirects, on the engine
// thread. Each redirect hop is a libcurl transfer of its own (a fresh easy
// handle), so the hop's scheme, host and credentials are decided here and
// not by libcurl.

#include "platform/wininet/HopRules.h"
#include "platform/wininet/WinInetEngine.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include <curl/curl.h>

namespace larkspool::wininet {

using Clock = std::chrono::steady_clock;

// Body progress (INTERNET_STATUS_RESPONSE_RECEIVED) is reported per this many
// bytes or this much time, not per network read: each report may cost the
// caller a thread switch.
constexpr std::uint64_t ReportEveryBytes = 1 << 20;
constexpr auto ReportEveryTime = std::chrono::milliseconds(100);

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
    CredentialUse Credentials;
    int Hops = 0;

    // The response being received. A 401/407 head is Tentative while libcurl
    // may still answer the challenge itself: the next thing that arrives
    // (body data, the end, or a new status line) tells.
    enum class Phase { None, Head, Tentative, Final, Redirect };
    Phase State = Phase::None;
    std::string HeadText;
    long Code = 0;
    std::optional<RedirectPlan> Redirect; // while State is Redirect

    bool NameReported = false, Connecting = false;
    long RequestBytesReported = 0;
    // Body bytes are counted as they came over the wire, before decoding:
    // libcurl's count of the current response when it was last looked at.
    curl_off_t WireCounted = 0;
    std::uint64_t Unreported = 0;
    Clock::time_point LastReport = Clock::now();

    ~Transfer();
    // Ends the current hop's libcurl transfer.
    void Stop();

    void Notify(DWORD Status);
    void NotifyText(DWORD Status, std::string Text);
    void NotifyNumber(DWORD Status, DWORD Number);
    void Complete(BOOL Result, DWORD Error);
    // Queues the bytes received since the last report; false when there
    // were none.
    bool ReportBytes();
    // Adds the body bytes received since the last look to Unreported.
    void CountWireBytes();
    // Bytes are waiting to be reported and the last report is long enough ago.
    bool ReportDue(Clock::time_point Now) const;

    // Sets up the current hop (Url, Host, Port, Secure, Verb, Body) and hands
    // it to the engine's multi handle; the error code if that fails.
    DWORD StartHop();

    // libcurl's callbacks, on the engine thread.
    curl_socket_t OnOpenSocket(curlsocktype Purpose, const curl_sockaddr& Address);
    void OnRequestReady(const char* PrimaryIp, int LocalPort);
    void OnHeaderLine(std::string_view Line);
    std::size_t OnBody(const char* Data, std::size_t Size);
    // Handles the end of the hop; false when the transfer is over.
    bool OnDone(CURLcode Code);

    void Fail(DWORD Error);

private:
    // The steps of StartHop.
    void ResetHop();
    void SetBasics();
    void SetCallbacks();
    void SetSession(const ConnectionSettings& Settings);
    void SetCredentials(const ConnectionSettings& Settings);
    void SetVerbAndHeaders();

    void DecideHead();
    void Finalize();
    bool FollowRedirect();
    bool IsProxyRefusal(CURLcode Result);
    void FailHop(CURLcode Result);
    void EndBody(CURLcode Result);
    void AnswerRead(RequestObject& R);
    DWORD MapError(CURLcode Code);
};

} // namespace larkspool::wininet
