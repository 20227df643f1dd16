// The per-thread error state of the layer and its message table.

#include "platform/wininet/LastResponseInfo.h"
#include "platform/wininet/WinInet.h"

#include <cstring>
#include <utility>

namespace larkspool {

namespace {

thread_local DWORD lastError = ERROR_SUCCESS;

struct ResponseInfo {
    DWORD Error = 0;
    std::string Text;
};
thread_local ResponseInfo lastResponse;

} // namespace

DWORD GetLastError() {
    return lastError;
}

void SetLastError(DWORD Error) {
    lastError = Error;
}

void SetLastResponseInfo(DWORD Error, std::string Text) {
    lastResponse.Error = Error;
    lastResponse.Text = std::move(Text);
}

BOOL InternetGetLastResponseInfoA(DWORD* Error, char* Buffer, DWORD* BufferLength) {
    if (Error == nullptr || BufferLength == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    *Error = lastResponse.Error;
    const std::string& text = lastResponse.Text;
    if (text.empty()) {
        // Nothing to hand out is not a failure, even without a buffer.
        if (Buffer != nullptr && *BufferLength > 0)
            Buffer[0] = '\0';
        *BufferLength = 0;
        return 1;
    }
    const auto needed = static_cast<DWORD>(text.size() + 1);
    if (Buffer == nullptr || *BufferLength < needed) {
        *BufferLength = needed;
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::memcpy(Buffer, text.c_str(), needed);
    *BufferLength = needed - 1;
    return 1;
}

// Only the layer's own codes have texts here, as WinInet's message table
// holds only its own: general system codes such as ERROR_INVALID_PARAMETER
// give an empty text, just as they did for the program on the platform.
std::string InternetErrorText(DWORD Error) {
    switch (Error) {
    case ERROR_INTERNET_OUT_OF_HANDLES:
        return "No more handles could be generated at this time";
    case ERROR_INTERNET_TIMEOUT:
        return "The operation timed out";
    case ERROR_INTERNET_EXTENDED_ERROR:
        return "The server returned extended information";
    case ERROR_INTERNET_INTERNAL_ERROR:
        return "An internal error occurred in the Internet extensions";
    case ERROR_INTERNET_INVALID_URL:
        return "The URL is invalid";
    case ERROR_INTERNET_UNRECOGNIZED_SCHEME:
        return "The URL does not use a recognized protocol";
    case ERROR_INTERNET_NAME_NOT_RESOLVED:
        return "The server name or address could not be resolved";
    case ERROR_INTERNET_INVALID_OPTION:
        return "The requested option is invalid";
    case ERROR_INTERNET_OPERATION_CANCELLED:
        return "The operation was canceled";
    case ERROR_INTERNET_INCORRECT_HANDLE_TYPE:
        return "The handle is of the wrong type for the requested operation";
    case ERROR_INTERNET_INCORRECT_HANDLE_STATE:
        return "The handle is in the wrong state for the requested operation";
    case ERROR_INTERNET_CANNOT_CONNECT:
        return "A connection with the server could not be established";
    case ERROR_INTERNET_CONNECTION_ABORTED:
        return "The connection with the server was terminated abnormally";
    case ERROR_INTERNET_CONNECTION_RESET:
        return "The connection with the server was reset";
    case ERROR_INTERNET_FORCE_RETRY:
        return "The request needs to be sent again";
    case ERROR_INTERNET_INVALID_PROXY_REQUEST:
        return "The request to the proxy was invalid";
    case ERROR_INTERNET_SEC_CERT_DATE_INVALID:
        return "The date in the server's certificate is invalid or has expired";
    case ERROR_INTERNET_SEC_CERT_CN_INVALID:
        return "The host name in the server's certificate is invalid or does not match";
    case ERROR_INTERNET_HTTP_TO_HTTPS_ON_REDIR:
        return "A redirect leads from a non-secure to a secure connection";
    case ERROR_INTERNET_HTTPS_TO_HTTP_ON_REDIR:
        return "A redirect leads from a secure to a non-secure connection";
    case ERROR_INTERNET_SEC_CERT_ERRORS:
        return "The server's certificate contains errors";
    case ERROR_INTERNET_SEC_CERT_REV_FAILED:
        return "The revocation status of the server's certificate could not be checked";
    case ERROR_HTTP_HEADER_NOT_FOUND:
        return "The requested header could not be found";
    case ERROR_HTTP_INVALID_SERVER_RESPONSE:
        return "The server returned an invalid or unrecognized response";
    case ERROR_HTTP_INVALID_QUERY_REQUEST:
        return "The request for header information is invalid";
    case ERROR_HTTP_REDIRECT_FAILED:
        return "The redirect failed because the scheme changed or too many redirects were made";
    case ERROR_INTERNET_SECURITY_CHANNEL_ERROR:
        return "An error occurred in the secure channel support";
    case ERROR_HTTP_NOT_REDIRECTED:
        return "The request was not redirected";
    case ERROR_INTERNET_SEC_INVALID_CERT:
        return "The server's certificate is invalid";
    case ERROR_INTERNET_DECODING_FAILED:
        return "The content of the response could not be decoded";
    default:
        return {};
    }
}

std::string GeneralErrorText(DWORD Error) {
    switch (Error) {
    case ERROR_SUCCESS:
        return {};
    case ERROR_INVALID_HANDLE:
        return "The handle is invalid";
    case ERROR_NOT_ENOUGH_MEMORY:
        return "Not enough memory is available to process this command";
    case ERROR_INVALID_PARAMETER:
        return "The parameter is incorrect";
    case ERROR_INSUFFICIENT_BUFFER:
        return "The data area passed to a system call is too small";
    case ERROR_IO_PENDING:
        return "Overlapped I/O operation is in progress";
    case ERROR_CANCELLED:
        return "The operation was canceled by the user";
    default:
        return "Error " + std::to_string(Error);
    }
}

} // namespace larkspool
