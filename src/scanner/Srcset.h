#pragma once

// The candidate addresses of a srcset attribute (<img srcset>, <source
// srcset>), split as browsers split it, and the attribute with them replaced.

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace larkspool {

struct SrcsetCandidate {
    std::size_t Start = 0, End = 0; // byte range of the URL inside the attribute text
    std::string Url;                // the URL as written
};

// The candidates of a srcset attribute's text (already without quotes and with
// character references decoded): leading whitespace and commas skipped; the
// URL runs to the next whitespace; trailing commas of the URL are not part of
// it (and end the candidate); the descriptors run to the next comma outside
// parentheses. Descriptors are not checked: a candidate a browser would drop
// for a bad descriptor ("a.png 1x 2x") is still listed.
std::vector<SrcsetCandidate> ParseSrcset(std::string_view Text);

// Text with the URLs replaced where Replace returns a value, descriptors and
// separators kept byte for byte. A replacement is made safe for srcset:
// whitespace, and commas at its start or end, are percent-encoded. An empty
// replacement cannot stand in srcset and leaves the URL as it was.
std::string
RewriteSrcset(std::string_view Text,
              const std::function<std::optional<std::string>(const SrcsetCandidate&)>& Replace);

} // namespace larkspool
