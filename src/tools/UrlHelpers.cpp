#include "tools/UrlHelpers.h"

#include "platform/AsciiText.h"
#include "platform/UrlText.h"

#include <algorithm>

namespace larkspool {

namespace {

constexpr std::size_t npos = std::string_view::npos;

std::string BackslashesToSlashes(std::string_view S) {
    std::string r(S);
    std::replace(r.begin(), r.end(), '\\', '/');
    return r;
}

// True when S holds nothing but blanks and control characters.
bool IsBlank(std::string_view S) {
    return std::all_of(S.begin(), S.end(),
                       [](char c) { return static_cast<unsigned char>(c) <= ' '; });
}

// Number of bytes of the well-formed UTF-8 character at S[i], 0 if malformed
// or cut short; Code receives its code point.
std::size_t Utf8CharAt(std::string_view S, std::size_t i, char32_t& Code) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(S[k]); };
    const unsigned char lead = byte(i);
    std::size_t length;
    char32_t min;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        Code = lead & 0x1F;
        min = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        Code = lead & 0x0F;
        min = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        Code = lead & 0x07;
        min = 0x10000;
    } else {
        return 0;
    }
    if (S.size() - i < length)
        return 0;
    for (std::size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80)
            return 0;
        Code = (Code << 6) | (byte(i + k) & 0x3F);
    }
    if (Code < min || Code > 0x10FFFF || (Code >= 0xD800 && Code <= 0xDFFF))
        return 0;
    return length;
}

// Offsets of the "/" that ends the root (the first one after "://", or the
// first one at all when there is no "://") and of the last "/"; First is npos
// when there is no such "/".
void RootAndDirEnds(std::string_view URL, std::size_t& First, std::size_t& Last) {
    const std::size_t scheme = URL.find("://");
    First = URL.find('/', scheme == npos ? 0 : scheme + 3);
    Last = First == npos ? npos : URL.rfind('/');
}

bool IsFolderNameAscii(char c) {
    return c == ' ' || c == '-' || c == '_' || (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') ||
           (c >= 'a' && c <= 'z');
}

} // namespace

std::string StripFragment(std::string_view URL) {
    return std::string(URL.substr(0, URL.find('#')));
}

std::string FragmentOf(std::string_view URL) {
    const std::size_t p = URL.find('#');
    return p == npos ? std::string() : std::string(URL.substr(p));
}

void SplitURL(std::string_view URL, std::string& Root, std::string& Dir, std::string& Name) {
    std::size_t first, last;
    RootAndDirEnds(URL, first, last);
    if (first == npos) {
        Root.clear();
        Dir.assign(URL);
        Name.clear();
        return;
    }
    Root.assign(URL.substr(0, first + 1));
    Dir.assign(URL.substr(first + 1, last - first));
    Name.assign(URL.substr(last + 1));
}

std::string HostPartOf(std::string_view URL) {
    std::string root, dir, name;
    SplitURL(URL, root, dir, name);
    return root;
}

std::string DirectoryOf(std::string_view URL) {
    std::string root, dir, name;
    SplitURL(URL, root, dir, name);
    return root + dir;
}

std::string FileNameOf(std::string_view URL) {
    std::string root, dir, name;
    SplitURL(URL, root, dir, name);
    return name;
}

std::string ExtensionOf(std::string_view URL) {
    const std::string name = FileNameOf(URL);
    const std::size_t p = name.find_last_of(".\\:");
    if (p == npos || name[p] != '.')
        return {};
    return name.substr(p + 1);
}

std::size_t LastSlashPos(std::string_view S) {
    const std::size_t p = S.rfind('/');
    return p == npos ? 0 : p + 1;
}

std::size_t FirstSlashPos(std::string_view S) {
    const std::size_t p = S.find('/');
    return p == npos ? 0 : p + 1;
}

std::string ResolveURL(std::string_view Base, std::string_view Link) {
    if (Link.empty())
        return {};
    // Copies only when there is a "\\" to turn into "/".
    std::string baseCopy, linkCopy;
    if (Base.find('\\') != npos)
        Base = baseCopy = BackslashesToSlashes(Base);
    if (Link.find('\\') != npos)
        Link = linkCopy = BackslashesToSlashes(Link);
    // A link is absolute when it starts with a scheme; "page?u=http://x"
    // is relative all the same.
    if (!SchemeOf(Link).empty())
        return std::string(Link);
    // "//host/path" keeps the base's scheme and names another host.
    if (Link.starts_with("//")) {
        const std::string scheme = SchemeOf(Base);
        return scheme.empty() ? std::string(Link) : scheme + ":" + std::string(Link);
    }

    std::string result;
    result.reserve(Base.size() + Link.size());
    std::string_view rest = Link;
    std::size_t first, last;
    RootAndDirEnds(Base, first, last);
    if (rest.front() == '/') {
        result = first == npos ? std::string_view() : Base.substr(0, first + 1);
        rest.remove_prefix(1);
    } else if (IsBlank(rest.substr(0, rest.find('#')))) {
        result = Base;
    } else {
        result = first == npos ? Base : Base.substr(0, last + 1);
    }

    for (;;) {
        const std::size_t p = FirstSlashPos(rest);
        if (p == 0) {
            result += rest;
            return result;
        }
        const std::string_view segment = rest.substr(0, p);
        rest.remove_prefix(p);
        if (segment == "../") {
            if (!result.empty())
                result.pop_back();
            result.resize(LastSlashPos(result));
        } else {
            result += segment;
        }
    }
}

std::string CleanAttributeValue(std::string_view S) {
    const auto isBreak = [](char c) { return c == '\t' || c == '\n' || c == '\r'; };
    std::string kept;
    std::string_view text = S;
    if (std::any_of(S.begin(), S.end(), isBreak)) {
        kept.reserve(S.size());
        for (char c : S)
            if (!isBreak(c))
                kept += c;
        text = kept;
    }
    if (!text.empty() && (text.front() == '"' || text.front() == '\''))
        text.remove_prefix(1);
    if (!text.empty() && (text.back() == '"' || text.back() == '\''))
        text.remove_suffix(1);
    return std::string(text);
}

std::string MakeFolderName(std::string_view Title) {
    std::string r;
    std::size_t i = 0;
    while (i < Title.size()) {
        const char c = Title[i];
        if (static_cast<unsigned char>(c) < 0x80) {
            if (IsFolderNameAscii(c))
                r += c;
            ++i;
            continue;
        }
        char32_t code = 0;
        const std::size_t length = Utf8CharAt(Title, i, code);
        if (length == 0) {
            ++i; // a stray or cut byte: drop it and look again at the next one
            continue;
        }
        if (code >= 0xC0)
            r.append(Title.substr(i, length));
        i += length;
    }
    return r;
}

bool IsNotMailto(std::string_view URL) {
    static constexpr std::string_view kMailto = "mailto:";
    if (URL.size() < kMailto.size())
        return true;
    for (std::size_t i = 0; i + kMailto.size() <= URL.size(); ++i)
        if (StartsWithNoCase(URL.substr(i), kMailto))
            return false;
    return true;
}

std::string SchemeOf(std::string_view Value) {
    std::size_t i = 0;
    while (i < Value.size() && static_cast<unsigned char>(Value[i]) <= ' ')
        ++i;
    const std::size_t start = i;
    std::string scheme;
    for (; i < Value.size(); ++i) {
        const char c = LowerAscii(Value[i]);
        if (c == ':')
            return scheme;
        const bool letter = c >= 'a' && c <= 'z';
        if (!letter &&
            (i == start || !((c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.')))
            return {};
        scheme += c;
    }
    return {};
}

bool IsHttpAddress(std::string_view URL) {
    const std::string scheme = SchemeOf(URL);
    return scheme == "http" || scheme == "https";
}

bool IsWebLink(std::string_view Value) {
    const std::string scheme = SchemeOf(Value);
    return scheme.empty() || scheme == "http" || scheme == "https";
}

namespace {

// Bytes a browser percent-encodes in an address: controls, the blank, what
// is not ASCII, and a few that end attributes or tags; in the path also the
// grave accent and braces.
bool BrowserEncodes(unsigned char c, bool InPath) {
    return c <= ' ' || c >= 0x7F || c == '"' || c == '<' || c == '>' ||
           (InPath && (c == '`' || c == '{' || c == '}'));
}

} // namespace

std::string CanonicalURL(std::string_view URL) {
    const std::string scheme = SchemeOf(URL);
    const std::size_t hostStart = scheme.size(); // where "://" is
    if (scheme.empty() || LowerAscii(URL.substr(0, hostStart + 3)) != scheme + "://")
        return std::string(URL);
    std::string out = scheme + "://";
    std::size_t at = hostStart + 3;
    std::size_t hostEnd = URL.find_first_of("/?#", at);
    if (hostEnd == npos)
        hostEnd = URL.size();
    // A user name or password before "@" keeps its case.
    const std::size_t userEnd = URL.substr(at, hostEnd - at).rfind('@');
    if (userEnd != npos) {
        out += URL.substr(at, userEnd + 1);
        at += userEnd + 1;
    }
    std::string host = LowerAscii(URL.substr(at, hostEnd - at));
    // The port follows the host's only ":", or the "]" of an IPv6 address.
    std::size_t colon = npos;
    if (host.starts_with('[')) {
        const std::size_t close = host.find(']');
        if (close != npos && close + 1 < host.size() && host[close + 1] == ':')
            colon = close + 1;
    } else if (host.find(':') == host.rfind(':')) {
        colon = host.find(':');
    }
    if (colon != npos) {
        const std::string_view port = std::string_view(host).substr(colon + 1);
        if (port.empty() || (scheme == "http" && port == "80") ||
            (scheme == "https" && port == "443"))
            host.resize(colon);
    }
    out += host;
    at = hostEnd;
    const std::size_t pathEnd = std::min(URL.find_first_of("?#", at), URL.size());
    std::string path(URL.substr(at, pathEnd - at));
    if (path.empty() && (scheme == "http" || scheme == "https"))
        path = "/";
    AppendPercentEncoded(out, RemoveDotSegments(path),
                         [](unsigned char c) { return BrowserEncodes(c, true); });
    AppendPercentEncoded(out, URL.substr(pathEnd),
                         [](unsigned char c) { return BrowserEncodes(c, false); });
    return out;
}

} // namespace larkspool
