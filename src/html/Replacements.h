#pragma once

// The new attribute values that link rewriting writes into saved pages: the
// local file name of what was stored, or a small script that says why a link
// was not saved and offers to open it from the server. Every value comes with
// its double quotes.
//
// Addresses (as the browser reads them, character references decoded) are
// escaped twice before they go into a script: for the script's string
// (backslash, quote, line breaks, control characters, and "%XX" forms that
// the browser's percent-decoding of a javascript: address would turn into
// one of those), then for the double-quoted attribute ("&", '"', "<", ">").
// Ordinary addresses come out unchanged.

#include <string>
#include <string_view>

namespace larkspool {

std::string SkippedReplacement(std::string_view U);
std::string ToBrowserReplacement(std::string_view U);
std::string NotToDownloadReplacement(std::string_view U);
// For an anchor matching no page; L is the link's address.
std::string NotSelectedReplacement(std::string_view L);
// DQ + FileName + Fragment + DQ, "&" and '"' escaped.
std::string LocalReplacement(std::string_view FileName, std::string_view Fragment = {});

// DQ + U + DQ for an address on the server, "&" and '"' escaped.
std::string ServerReplacement(std::string_view U);
// Any text as a double-quoted value in the same way (a rewritten style or
// srcset attribute).
std::string QuotedAttributeValue(std::string_view Text);

// Text for use inside the single-quoted string of a script inside a
// double-quoted attribute.
std::string EscapeForScriptInAttribute(std::string_view Text);

} // namespace larkspool
