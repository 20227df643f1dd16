#pragma once

// Answers the end-to-end tests' hostile fixture: error statuses, huge header
// blocks, redirect loops, redirects to another site and to https, names too
// long for a file system, a file named like the previous-downloads log. Any
// page of the site may name the other site ("@OTHER_SITE@", this server
// under its other name; "@OTHER_HOST@", the same without the scheme) and the
// https server ("@TLS@") through placeholders that are filled in when the
// page is served.

#include <httplib.h>

#include <string>

struct HostileSite {
    std::string Folder;    // the mounted site folder
    std::string TlsOrigin; // "https://127.0.0.1:PORT/", empty without a TLS server
};

// Handles /x/... and the placeholders of Site's pages; false for everything
// else, which the mount point serves.
bool ServeHostile(const HostileSite& Site, const httplib::Request& Req, httplib::Response& Res);
