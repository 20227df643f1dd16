#pragma once

// The subset of WinInet that the HTTP component uses, with WinInet's names,
// numbers and calling conventions, implemented over libcurl.
//
// Handles form WinInet's tree: an internet handle (InternetOpenA) holds
// connection handles (InternetConnectA), which hold request handles
// (HttpOpenRequestA). In asynchronous mode (INTERNET_FLAG_ASYNC on the
// internet handle) HttpSendRequestA and InternetReadFile answer FALSE with
// ERROR_IO_PENDING and complete later with INTERNET_STATUS_REQUEST_COMPLETE;
// all notifications of a handle opened with a non-zero context reach the
// status callback from the layer's own thread.
//
// Where this layer differs from WinInet is said at the declaration.

#include <cstdint>
#include <string>
#include <vector>

namespace larkspool {

using DWORD = std::uint32_t;
using BOOL = int;
using LPVOID = void*;
using DWORD_PTR = std::uintptr_t;
using INTERNET_PORT = std::uint16_t;
using HINTERNET = void*;
using HWND = void*;

using INTERNET_STATUS_CALLBACK = void (*)(HINTERNET Handle, DWORD_PTR Context, DWORD InternetStatus,
                                          LPVOID StatusInformation, DWORD StatusInformationLength);
inline const INTERNET_STATUS_CALLBACK INTERNET_INVALID_STATUS_CALLBACK =
    reinterpret_cast<INTERNET_STATUS_CALLBACK>(static_cast<std::intptr_t>(-1));

struct INTERNET_ASYNC_RESULT {
    DWORD_PTR dwResult;
    DWORD dwError;
};

using INTERNET_SCHEME = int;
constexpr INTERNET_SCHEME INTERNET_SCHEME_UNKNOWN = -1;
constexpr INTERNET_SCHEME INTERNET_SCHEME_DEFAULT = 0;
constexpr INTERNET_SCHEME INTERNET_SCHEME_FTP = 1;
constexpr INTERNET_SCHEME INTERNET_SCHEME_GOPHER = 2;
constexpr INTERNET_SCHEME INTERNET_SCHEME_HTTP = 3;
constexpr INTERNET_SCHEME INTERNET_SCHEME_HTTPS = 4;
constexpr INTERNET_SCHEME INTERNET_SCHEME_FILE = 5;

struct URL_COMPONENTSA {
    DWORD dwStructSize;
    char* lpszScheme;
    DWORD dwSchemeLength;
    INTERNET_SCHEME nScheme;
    char* lpszHostName;
    DWORD dwHostNameLength;
    INTERNET_PORT nPort;
    char* lpszUserName;
    DWORD dwUserNameLength;
    char* lpszPassword;
    DWORD dwPasswordLength;
    char* lpszUrlPath;
    DWORD dwUrlPathLength;
    char* lpszExtraInfo;
    DWORD dwExtraInfoLength;
};

// Error codes.
constexpr DWORD ERROR_SUCCESS = 0;
constexpr DWORD ERROR_INVALID_HANDLE = 6;
constexpr DWORD ERROR_NOT_ENOUGH_MEMORY = 8;
constexpr DWORD ERROR_INVALID_PARAMETER = 87;
constexpr DWORD ERROR_INSUFFICIENT_BUFFER = 122;
constexpr DWORD ERROR_IO_PENDING = 997;
constexpr DWORD ERROR_CANCELLED = 1223;
constexpr DWORD ERROR_INTERNET_OUT_OF_HANDLES = 12001;
constexpr DWORD ERROR_INTERNET_TIMEOUT = 12002;
constexpr DWORD ERROR_INTERNET_EXTENDED_ERROR = 12003;
constexpr DWORD ERROR_INTERNET_INTERNAL_ERROR = 12004;
constexpr DWORD ERROR_INTERNET_INVALID_URL = 12005;
constexpr DWORD ERROR_INTERNET_UNRECOGNIZED_SCHEME = 12006;
constexpr DWORD ERROR_INTERNET_NAME_NOT_RESOLVED = 12007;
constexpr DWORD ERROR_INTERNET_INVALID_OPTION = 12009;
constexpr DWORD ERROR_INTERNET_OPERATION_CANCELLED = 12017;
constexpr DWORD ERROR_INTERNET_INCORRECT_HANDLE_TYPE = 12018;
constexpr DWORD ERROR_INTERNET_INCORRECT_HANDLE_STATE = 12019;
constexpr DWORD ERROR_INTERNET_CANNOT_CONNECT = 12029;
constexpr DWORD ERROR_INTERNET_CONNECTION_ABORTED = 12030;
constexpr DWORD ERROR_INTERNET_CONNECTION_RESET = 12031;
constexpr DWORD ERROR_INTERNET_FORCE_RETRY = 12032;
constexpr DWORD ERROR_INTERNET_INVALID_PROXY_REQUEST = 12033;
constexpr DWORD ERROR_INTERNET_SEC_CERT_DATE_INVALID = 12037;
constexpr DWORD ERROR_INTERNET_SEC_CERT_CN_INVALID = 12038;
constexpr DWORD ERROR_INTERNET_HTTP_TO_HTTPS_ON_REDIR = 12039;
constexpr DWORD ERROR_INTERNET_HTTPS_TO_HTTP_ON_REDIR = 12040;
constexpr DWORD ERROR_INTERNET_SEC_CERT_ERRORS = 12055;
constexpr DWORD ERROR_INTERNET_SEC_CERT_REV_FAILED = 12057;
constexpr DWORD ERROR_HTTP_HEADER_NOT_FOUND = 12150;
constexpr DWORD ERROR_HTTP_INVALID_SERVER_RESPONSE = 12152;
constexpr DWORD ERROR_HTTP_INVALID_QUERY_REQUEST = 12154;
constexpr DWORD ERROR_HTTP_REDIRECT_FAILED = 12156;
constexpr DWORD ERROR_INTERNET_SECURITY_CHANNEL_ERROR = 12157;
constexpr DWORD ERROR_HTTP_NOT_REDIRECTED = 12160;
constexpr DWORD ERROR_INTERNET_SEC_INVALID_CERT = 12169;
constexpr DWORD ERROR_INTERNET_DECODING_FAILED = 12175;

// InternetOpenA access types and flags.
constexpr DWORD INTERNET_OPEN_TYPE_PRECONFIG = 0;
constexpr DWORD INTERNET_OPEN_TYPE_DIRECT = 1;
constexpr DWORD INTERNET_OPEN_TYPE_PROXY = 3;
constexpr DWORD INTERNET_FLAG_ASYNC = 0x10000000;

constexpr DWORD INTERNET_SERVICE_HTTP = 3;
constexpr INTERNET_PORT INTERNET_DEFAULT_HTTP_PORT = 80;
constexpr INTERNET_PORT INTERNET_DEFAULT_HTTPS_PORT = 443;

// Request flags.
constexpr DWORD INTERNET_FLAG_RELOAD = 0x80000000;
constexpr DWORD INTERNET_FLAG_DONT_CACHE = 0x04000000;
constexpr DWORD INTERNET_FLAG_NO_CACHE_WRITE = 0x04000000;
constexpr DWORD INTERNET_FLAG_SECURE = 0x00800000;
constexpr DWORD INTERNET_FLAG_KEEP_CONNECTION = 0x00400000;
constexpr DWORD INTERNET_FLAG_NO_AUTO_REDIRECT = 0x00200000;
constexpr DWORD INTERNET_FLAG_NO_COOKIES = 0x00080000;
constexpr DWORD INTERNET_FLAG_NO_AUTH = 0x00040000;
constexpr DWORD INTERNET_FLAG_CACHE_IF_NET_FAIL = 0x00010000;
constexpr DWORD INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTP = 0x00008000;
constexpr DWORD INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTPS = 0x00004000;
constexpr DWORD INTERNET_FLAG_IGNORE_CERT_DATE_INVALID = 0x00002000;
constexpr DWORD INTERNET_FLAG_IGNORE_CERT_CN_INVALID = 0x00001000;
constexpr DWORD INTERNET_FLAG_RESYNCHRONIZE = 0x00000800;
constexpr DWORD INTERNET_FLAG_HYPERLINK = 0x00000400;
constexpr DWORD INTERNET_FLAG_NO_UI = 0x00000200;
constexpr DWORD INTERNET_FLAG_PRAGMA_NOCACHE = 0x00000100;
constexpr DWORD INTERNET_FLAG_NEED_FILE = 0x00000010;

// Options.
constexpr DWORD INTERNET_OPTION_CONNECT_TIMEOUT = 2;
constexpr DWORD INTERNET_OPTION_USERNAME = 28;
constexpr DWORD INTERNET_OPTION_PASSWORD = 29;
constexpr DWORD INTERNET_OPTION_PROXY_USERNAME = 43;
constexpr DWORD INTERNET_OPTION_PROXY_PASSWORD = 44;

// Query levels and modifiers.
constexpr DWORD HTTP_QUERY_STATUS_CODE = 19;
constexpr DWORD HTTP_QUERY_RAW_HEADERS_CRLF = 22;
constexpr DWORD HTTP_QUERY_FLAG_NUMBER = 0x20000000;

// Status notifications.
constexpr DWORD INTERNET_STATUS_RESOLVING_NAME = 10;
constexpr DWORD INTERNET_STATUS_NAME_RESOLVED = 11;
constexpr DWORD INTERNET_STATUS_CONNECTING_TO_SERVER = 20;
constexpr DWORD INTERNET_STATUS_CONNECTED_TO_SERVER = 21;
constexpr DWORD INTERNET_STATUS_SENDING_REQUEST = 30;
constexpr DWORD INTERNET_STATUS_REQUEST_SENT = 31;
constexpr DWORD INTERNET_STATUS_RECEIVING_RESPONSE = 40;
constexpr DWORD INTERNET_STATUS_RESPONSE_RECEIVED = 41;
constexpr DWORD INTERNET_STATUS_CLOSING_CONNECTION = 50;
constexpr DWORD INTERNET_STATUS_CONNECTION_CLOSED = 51;
constexpr DWORD INTERNET_STATUS_HANDLE_CREATED = 60;
constexpr DWORD INTERNET_STATUS_HANDLE_CLOSING = 70;
constexpr DWORD INTERNET_STATUS_REQUEST_COMPLETE = 100;
constexpr DWORD INTERNET_STATUS_REDIRECT = 110;
constexpr DWORD INTERNET_STATUS_INTERMEDIATE_RESPONSE = 120;
constexpr DWORD INTERNET_STATUS_STATE_CHANGE = 200;

// InternetErrorDlg flags.
constexpr DWORD FLAGS_ERROR_UI_FILTER_FOR_ERRORS = 0x01;
constexpr DWORD FLAGS_ERROR_UI_FLAGS_CHANGE_OPTIONS = 0x02;
constexpr DWORD FLAGS_ERROR_UI_FLAGS_GENERATE_DATA = 0x04;

// URL flags.
constexpr DWORD ICU_ESCAPE = 0x80000000;
constexpr DWORD ICU_ENCODE_SPACES_ONLY = 0x04000000;
constexpr DWORD ICU_NO_ENCODE = 0x20000000;
constexpr DWORD ICU_DECODE = 0x10000000;

constexpr DWORD INTERNET_MAX_URL_LENGTH = 2084;

HINTERNET InternetOpenA(const char* Agent, DWORD AccessType, const char* Proxy,
                        const char* ProxyBypass, DWORD Flags);
INTERNET_STATUS_CALLBACK InternetSetStatusCallback(HINTERNET Internet,
                                                   INTERNET_STATUS_CALLBACK Callback);
HINTERNET InternetConnectA(HINTERNET Internet, const char* ServerName, INTERNET_PORT ServerPort,
                           const char* UserName, const char* Password, DWORD Service, DWORD Flags,
                           DWORD_PTR Context);
BOOL InternetSetOptionA(HINTERNET Handle, DWORD Option, LPVOID Buffer, DWORD BufferLength);
HINTERNET HttpOpenRequestA(HINTERNET Connect, const char* Verb, const char* ObjectName,
                           const char* Version, const char* Referrer, const char** AcceptTypes,
                           DWORD Flags, DWORD_PTR Context);
BOOL HttpSendRequestA(HINTERNET Request, const char* Headers, DWORD HeadersLength, LPVOID Optional,
                      DWORD OptionalLength);
BOOL HttpQueryInfoA(HINTERNET Request, DWORD InfoLevel, LPVOID Buffer, DWORD* BufferLength,
                    DWORD* Index);
BOOL InternetReadFile(HINTERNET Request, LPVOID Buffer, DWORD NumberOfBytesToRead,
                      DWORD* NumberOfBytesRead);
DWORD InternetErrorDlg(HWND Parent, HINTERNET Request, DWORD Error, DWORD Flags, LPVOID* Data);
BOOL InternetCloseHandle(HINTERNET Handle);
// The browser's cookies for the handle's shared jar (the platform's layer read
// the browser's own store): cookies.txt lines (tools/Cookies.h). They go with
// every request of the handle sent after this call, unless the request has
// INTERNET_FLAG_NO_COOKIES. A line that is not a cookie is ignored.
BOOL InternetAddCookies(HINTERNET Internet, const std::vector<std::string>& Lines);
BOOL InternetCrackUrlA(const char* Url, DWORD UrlLength, DWORD Flags, URL_COMPONENTSA* Components);
BOOL InternetCombineUrlA(const char* BaseUrl, const char* RelativeUrl, char* Buffer,
                         DWORD* BufferLength, DWORD Flags);
BOOL InternetGetLastResponseInfoA(DWORD* Error, char* Buffer, DWORD* BufferLength);

// The calling thread's last error, as the platform kept it.
DWORD GetLastError();
void SetLastError(DWORD Error);

// The message text for an error code this layer produces; empty for codes
// it has no text for (as the platform's message table).
std::string InternetErrorText(DWORD Error);
// The system's text for a general code (not one of the layer's own), and
// "Error N" for a code without one: never empty for a non-zero code.
std::string GeneralErrorText(DWORD Error);

// Where InternetErrorDlg asks for credentials. Without one (no windows yet,
// or no display) the dialog answers as cancelled.
using CredentialsPrompt = DWORD (*)(HINTERNET Request, DWORD Error, DWORD Flags);
void SetCredentialsPrompt(CredentialsPrompt Prompt);

} // namespace larkspool
