#pragma once

// What the layer's own address handling shares with the rest of the layer.

#include "platform/wininet/WinInet.h"

namespace larkspool {

// The port a scheme's URLs use when they name none; 0 for schemes without one.
INTERNET_PORT DefaultPort(INTERNET_SCHEME Scheme);

} // namespace larkspool
