#include "tools/UrlHelpers.h"

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
    const std::size_t scheme = URL.find("://");
    const std::size_t start = scheme == npos ? 0 : scheme + 3;
    const std::size_t first = URL.find('/', start);
    if (first == npos) {
        Root.clear();
        Dir.assign(URL);
        Name.clear();
        return;
    }
    const std::size_t last = URL.rfind('/');
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
    const std::string base = BackslashesToSlashes(Base);
    std::string link = BackslashesToSlashes(Link);
    if (link.find("://") != npos)
        return link;

    std::string result;
    std::string_view rest = link;
    if (rest.front() == '/') {
        result = HostPartOf(base);
        rest.remove_prefix(1);
    } else if (IsBlank(StripFragment(rest))) {
        result = base;
    } else {
        result = DirectoryOf(base);
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
    std::string r;
    r.reserve(S.size());
    for (char c : S)
        if (c != '\t' && c != '\n' && c != '\r')
            r += c;
    if (!r.empty() && (r.front() == '"' || r.front() == '\''))
        r.erase(0, 1);
    if (!r.empty() && (r.back() == '"' || r.back() == '\''))
        r.pop_back();
    return r;
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
    for (std::size_t i = 0; i + kMailto.size() <= URL.size(); ++i) {
        std::size_t k = 0;
        while (k < kMailto.size()) {
            char c = URL[i + k];
            if (c >= 'A' && c <= 'Z')
                c = static_cast<char>(c - 'A' + 'a');
            if (c != kMailto[k])
                break;
            ++k;
        }
        if (k == kMailto.size())
            return false;
    }
    return true;
}

} // namespace larkspool
