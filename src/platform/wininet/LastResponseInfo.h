#pragma once

// What InternetGetLastResponseInfoA hands out: the extended error number and
// response text of the calling thread, kept by the layer. Only the layer
// itself sets it, on the thread whose caller will ask for it.

#include "platform/wininet/WinInet.h"

#include <string>

namespace larkspool {

// Replaces the calling thread's last response info; (0, "") clears it.
void SetLastResponseInfo(DWORD Error, std::string Text);

} // namespace larkspool
