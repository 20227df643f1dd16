#pragma once

// Which certificate authorities the WinInet layer trusts for https. By
// default the system's trust store. A PEM file named here, or else in the
// environment variable LARKSPOOL_CA_FILE, is used instead: tests and local
// benchmark sites sign their servers with a CA of their own. Read when an
// internet handle is opened; an empty path returns to the default.

#include <string>

namespace larkspool {

void SetTrustedCaFile(std::string Path);

} // namespace larkspool
