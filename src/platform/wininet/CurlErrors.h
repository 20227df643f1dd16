#pragma once

// WinInet's error code for the way a libcurl transfer failed.

#include "platform/wininet/WinInet.h"

#include <curl/curl.h>

namespace larkspool::wininet {

// VerifyResult: the certificate check's X509_V_* result, which tells apart
// the faults behind CURLE_PEER_FAILED_VERIFICATION.
DWORD MapCurlError(CURLcode Code, long VerifyResult);

} // namespace larkspool::wininet
