// The address helpers on arbitrary bytes: no crash, and the properties every
// caller relies on.
#include "tools/UrlHelpers.h"
#include "tools/Words.h"

#include "support/Utf8Check.h"

#include <cstdint>
#include <cstdlib>
#include <string>

using namespace larkspool;

using larkspool::check::IsValidUtf8;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    // The first line is the base, the rest the link.
    const std::size_t nl = input.find('\n');
    const std::string base = input.substr(0, nl);
    const std::string link = nl == std::string::npos ? std::string() : input.substr(nl + 1);

    std::string root, dir, name;
    SplitURL(input, root, dir, name);
    if (root + dir + name != input)
        std::abort();
    if (DirectoryOf(input) != root + dir || FileNameOf(input) != name)
        std::abort();
    if (StripFragment(input) + FragmentOf(input) != input)
        std::abort();

    const std::string resolved = ResolveURL(base, link);
    if (link.empty() != resolved.empty() && link.empty())
        std::abort();

    // A link starting with "//" keeps the base's scheme and names a host.
    if (link.starts_with("//") && link.find('\\') == std::string::npos && !SchemeOf(base).empty() &&
        resolved != SchemeOf(base) + ":" + link)
        std::abort();

    // The browser's form: a second pass changes nothing.
    const std::string canonical = CanonicalURL(input);
    if (CanonicalURL(canonical) != canonical)
        std::abort();

    const std::string cleaned = CleanAttributeValue(input);
    if (cleaned.size() > input.size() || cleaned.find_first_of("\t\r\n") != std::string::npos)
        std::abort();

    const std::string folder = MakeFolderName(input);
    if (!IsValidUtf8(folder) || folder.size() > input.size())
        std::abort();
    if (IsValidUtf8(input) && MakeFolderName(folder) != folder)
        std::abort(); // cleaning is idempotent

    (void)ExtensionOf(input);
    (void)IsNotMailto(input);
    const std::size_t words = CountWords(link, base);
    if (!NthWord(static_cast<int>(words), link, base).empty() != (words > 0))
        std::abort();
    if (!NthWord(static_cast<int>(words) + 1, link, base).empty())
        std::abort();
    return 0;
}
