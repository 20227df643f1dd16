// Taking URLs apart (InternetCrackUrlA) and resolving one against another
// (InternetCombineUrlA), with WinInet's buffer conventions and error codes.
//
// Choices where WinInet's documentation leaves room:
// - "http://host" cracks to an empty URL path (WinInet does not invent the
//   "/"); combining, which canonicalizes, writes "http://host/".
// - ICU_ESCAPE and ICU_DECODE decode %xx in the URL path and extra info, and
//   only in components copied to caller buffers: a component returned as a
//   pointer into the URL is the URL's own text.
// - An IPv6 host "[::1]" is returned without its brackets, as a server name.
// - Combining without ICU_NO_ENCODE or ICU_ENCODE_SPACES_ONLY escapes what
//   RFC 1738 calls unsafe (space, < > " { } | \ ^ `), control characters and
//   bytes outside ASCII, but never "%", so escapes already present survive.

#include "platform/wininet/UrlParts.h"

#include "platform/AsciiText.h"
#include "platform/UrlText.h"
#include "platform/wininet/WinInet.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>

namespace larkspool {

INTERNET_PORT DefaultPort(INTERNET_SCHEME Scheme) {
    switch (Scheme) {
    case INTERNET_SCHEME_HTTP:
        return INTERNET_DEFAULT_HTTP_PORT;
    case INTERNET_SCHEME_HTTPS:
        return INTERNET_DEFAULT_HTTPS_PORT;
    case INTERNET_SCHEME_FTP:
        return 21;
    case INTERNET_SCHEME_GOPHER:
        return 70;
    default:
        return 0;
    }
}

namespace {

constexpr auto npos = std::string_view::npos;

bool IsAlpha(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}
bool IsSchemeChar(char c) {
    return IsAlpha(c) || IsDigit(c) || c == '+' || c == '-' || c == '.';
}
INTERNET_SCHEME SchemeNumber(std::string_view Scheme) {
    if (EqualsNoCase(Scheme, "http"))
        return INTERNET_SCHEME_HTTP;
    if (EqualsNoCase(Scheme, "https"))
        return INTERNET_SCHEME_HTTPS;
    if (EqualsNoCase(Scheme, "ftp"))
        return INTERNET_SCHEME_FTP;
    if (EqualsNoCase(Scheme, "gopher"))
        return INTERNET_SCHEME_GOPHER;
    if (EqualsNoCase(Scheme, "file"))
        return INTERNET_SCHEME_FILE;
    return INTERNET_SCHEME_UNKNOWN;
}

// Schemes that name a server, so their URLs are useless without a host.
bool NeedsHost(INTERNET_SCHEME Scheme) {
    return Scheme == INTERNET_SCHEME_HTTP || Scheme == INTERNET_SCHEME_HTTPS ||
           Scheme == INTERNET_SCHEME_FTP || Scheme == INTERNET_SCHEME_GOPHER;
}

// A "%" not followed by two hex digits stays as written, and so does "%00",
// which would cut the returned C string short.
std::string DecodeEscapes(std::string_view Text) {
    std::string out;
    out.reserve(Text.size());
    for (std::size_t i = 0; i < Text.size(); ++i) {
        if (Text[i] == '%' && i + 2 < Text.size()) {
            const int high = HexDigitValue(Text[i + 1]);
            const int low = HexDigitValue(Text[i + 2]);
            if (high >= 0 && low >= 0 && (high | low) != 0) {
                out += static_cast<char>(high * 16 + low);
                i += 2;
                continue;
            }
        }
        out += Text[i];
    }
    return out;
}

// Where the ":" ending a leading scheme is, or npos when the text starts
// with none (a colon after "/", "?" or "#" is no scheme's).
std::size_t SchemeEnd(std::string_view Url) {
    const std::size_t colon = Url.find(':');
    if (colon == npos || colon == 0 || !IsAlpha(Url.front()))
        return npos;
    for (std::size_t i = 1; i < colon; ++i)
        if (!IsSchemeChar(Url[i]))
            return npos;
    return colon;
}

struct CrackedUrl {
    std::string_view Scheme, UserName, Password, HostName, UrlPath, ExtraInfo;
    INTERNET_SCHEME Number = INTERNET_SCHEME_UNKNOWN;
    INTERNET_PORT Port = 0;
};

// Every part is a view into Url, also the missing ones (empty, at the place
// they would be), so pointer-mode callers always get a usable pointer.
DWORD Crack(std::string_view Url, CrackedUrl& Out) {
    const std::size_t colon = SchemeEnd(Url);
    if (colon == npos)
        return ERROR_INTERNET_UNRECOGNIZED_SCHEME;
    Out.Scheme = Url.substr(0, colon);
    Out.Number = SchemeNumber(Out.Scheme);
    Out.Port = DefaultPort(Out.Number);

    std::size_t pos = colon + 1;
    Out.UserName = Out.Password = Out.HostName = Url.substr(pos, 0);
    if (Url.substr(pos, 2) == "//") {
        pos += 2;
        const std::size_t end = std::min(Url.find_first_of("/?#", pos), Url.size());
        std::string_view authority = Url.substr(pos, end - pos);
        Out.UserName = Out.Password = Out.HostName = authority.substr(0, 0);

        // The last "@" ends the user info, so a password may contain one.
        const std::size_t at = authority.rfind('@');
        if (at != npos) {
            const std::string_view userInfo = authority.substr(0, at);
            const std::size_t sep = userInfo.find(':');
            Out.UserName = userInfo.substr(0, sep);
            Out.Password = userInfo.substr(sep == npos ? userInfo.size() : sep + 1);
            authority.remove_prefix(at + 1);
        }

        std::string_view portText;
        if (!authority.empty() && authority.front() == '[') {
            const std::size_t close = authority.find(']');
            if (close == npos)
                return ERROR_INTERNET_INVALID_URL;
            Out.HostName = authority.substr(1, close - 1);
            const std::string_view rest = authority.substr(close + 1);
            if (!rest.empty() && rest.front() != ':')
                return ERROR_INTERNET_INVALID_URL;
            portText = rest.substr(rest.empty() ? 0 : 1);
        } else {
            const std::size_t sep = authority.find(':');
            Out.HostName = authority.substr(0, sep);
            portText = authority.substr(sep == npos ? authority.size() : sep + 1);
        }
        // "host:" with nothing after the colon keeps the scheme's port.
        if (!portText.empty()) {
            unsigned value = 0;
            for (const char c : portText) {
                if (!IsDigit(c))
                    return ERROR_INTERNET_INVALID_URL;
                value = value * 10 + static_cast<unsigned>(c - '0');
                if (value > 65535)
                    return ERROR_INTERNET_INVALID_URL;
            }
            if (value == 0)
                return ERROR_INTERNET_INVALID_URL;
            Out.Port = static_cast<INTERNET_PORT>(value);
        }
        pos = end;
    }
    if (Out.HostName.empty() && NeedsHost(Out.Number))
        return ERROR_INTERNET_INVALID_URL;

    const std::size_t extra = std::min(Url.find_first_of("?#", pos), Url.size());
    Out.UrlPath = Url.substr(pos, extra - pos);
    Out.ExtraInfo = Url.substr(extra);
    return ERROR_SUCCESS;
}

struct Reference {
    std::string Scheme, Authority, Path, Query, Fragment;
    bool HasScheme = false, HasAuthority = false, HasQuery = false, HasFragment = false;
};

Reference ParseReference(std::string_view Text) {
    Reference r;
    if (const std::size_t colon = SchemeEnd(Text); colon != npos) {
        r.Scheme = Text.substr(0, colon);
        r.HasScheme = true;
        Text.remove_prefix(colon + 1);
    }
    if (Text.starts_with("//")) {
        Text.remove_prefix(2);
        const std::size_t end = std::min(Text.find_first_of("/?#"), Text.size());
        r.Authority = Text.substr(0, end);
        r.HasAuthority = true;
        Text.remove_prefix(end);
    }
    if (const std::size_t hash = Text.find('#'); hash != npos) {
        r.Fragment = Text.substr(hash + 1);
        r.HasFragment = true;
        Text = Text.substr(0, hash);
    }
    if (const std::size_t question = Text.find('?'); question != npos) {
        r.Query = Text.substr(question + 1);
        r.HasQuery = true;
        Text = Text.substr(0, question);
    }
    r.Path = Text;
    return r;
}

std::string MergePaths(const Reference& Base, const std::string& Path) {
    if (Base.HasAuthority && Base.Path.empty())
        return "/" + Path;
    const std::size_t slash = Base.Path.rfind('/');
    return slash == std::string::npos ? Path : Base.Path.substr(0, slash + 1) + Path;
}

// RFC 3986 section 5.2.2, strict: a reference with a scheme is absolute.
Reference Resolve(const Reference& Base, const Reference& Ref) {
    if (Ref.HasScheme)
        return Ref;
    Reference t = Ref;
    t.Scheme = Base.Scheme;
    t.HasScheme = Base.HasScheme;
    if (Ref.HasAuthority)
        return t;
    t.Authority = Base.Authority;
    t.HasAuthority = Base.HasAuthority;
    if (Ref.Path.empty()) {
        t.Path = Base.Path;
        if (!Ref.HasQuery) {
            t.Query = Base.Query;
            t.HasQuery = Base.HasQuery;
        }
    } else if (Ref.Path.front() != '/') {
        t.Path = MergePaths(Base, Ref.Path);
    }
    return t;
}

bool IsUnsafe(unsigned char c, DWORD Flags) {
    if (c == ' ')
        return true;
    if ((Flags & ICU_ENCODE_SPACES_ONLY) != 0)
        return false;
    return c < 0x20 || c >= 0x7F || std::strchr("<>\"{}|\\^`", c) != nullptr;
}

void AppendEncoded(std::string& Out, std::string_view Text, DWORD Flags) {
    AppendPercentEncoded(Out, Text, [Flags](unsigned char c) {
        return (Flags & ICU_NO_ENCODE) == 0 && IsUnsafe(c, Flags);
    });
}

bool IsTrailingSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

std::string Compose(Reference Url, DWORD Flags) {
    Url.Path = RemoveDotSegments(Url.Path);
    if (Url.HasAuthority && Url.Path.empty() && NeedsHost(SchemeNumber(Url.Scheme)))
        Url.Path = "/";

    std::string out;
    if (Url.HasScheme)
        out += Url.Scheme + ":";
    if (Url.HasAuthority)
        out += "//" + Url.Authority;
    std::string tail = Url.Path;
    if (Url.HasQuery)
        tail += "?" + Url.Query;
    if (Url.HasFragment)
        tail += "#" + Url.Fragment;
    // Trailing white space goes before encoding could turn it into escapes.
    while (!tail.empty() && IsTrailingSpace(tail.back()))
        tail.pop_back();
    AppendEncoded(out, tail, Flags);
    return out;
}

// Fills a caller's buffer of BufferLength characters the WinInet way.
BOOL ReturnText(const std::string& Text, char* Buffer, DWORD* BufferLength) {
    const auto needed = static_cast<DWORD>(Text.size() + 1);
    if (Buffer == nullptr || *BufferLength < needed) {
        *BufferLength = needed;
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::memcpy(Buffer, Text.c_str(), needed);
    *BufferLength = needed - 1;
    return 1;
}

} // namespace

BOOL InternetCrackUrlA(const char* Url, DWORD UrlLength, DWORD Flags, URL_COMPONENTSA* Components) {
    if (Url == nullptr || Components == nullptr ||
        Components->dwStructSize != sizeof(URL_COMPONENTSA)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const std::string_view url(Url, UrlLength != 0 ? UrlLength : std::strlen(Url));
    CrackedUrl parts;
    if (const DWORD error = Crack(url, parts); error != ERROR_SUCCESS) {
        SetLastError(error);
        return 0;
    }

    const bool decode = (Flags & (ICU_ESCAPE | ICU_DECODE)) != 0;
    struct Field {
        char*& Text;
        DWORD& Length;
        std::string_view Value;
        bool Decoded;
        std::string Copy = {};
    };
    Field fields[] = {
        {Components->lpszScheme, Components->dwSchemeLength, parts.Scheme, false},
        {Components->lpszHostName, Components->dwHostNameLength, parts.HostName, false},
        {Components->lpszUserName, Components->dwUserNameLength, parts.UserName, false},
        {Components->lpszPassword, Components->dwPasswordLength, parts.Password, false},
        {Components->lpszUrlPath, Components->dwUrlPathLength, parts.UrlPath, decode},
        {Components->lpszExtraInfo, Components->dwExtraInfoLength, parts.ExtraInfo, decode},
    };

    // Check every buffer before writing any, so a failure leaves them as they were.
    bool tooSmall = false;
    for (Field& field : fields) {
        if (field.Text == nullptr)
            continue;
        field.Copy = field.Decoded ? DecodeEscapes(field.Value) : std::string(field.Value);
        if (field.Length < field.Copy.size() + 1) {
            field.Length = static_cast<DWORD>(field.Copy.size() + 1);
            tooSmall = true;
        }
    }
    if (tooSmall) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }

    for (Field& field : fields) {
        if (field.Text != nullptr) {
            std::memcpy(field.Text, field.Copy.c_str(), field.Copy.size() + 1);
            field.Length = static_cast<DWORD>(field.Copy.size());
        } else if (field.Length != 0) {
            field.Text = const_cast<char*>(field.Value.data());
            field.Length = static_cast<DWORD>(field.Value.size());
        }
    }
    Components->nScheme = parts.Number;
    Components->nPort = parts.Port;
    return 1;
}

BOOL InternetCombineUrlA(const char* BaseUrl, const char* RelativeUrl, char* Buffer,
                         DWORD* BufferLength, DWORD Flags) {
    if (BaseUrl == nullptr || RelativeUrl == nullptr || BufferLength == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const bool decode = (Flags & ICU_DECODE) != 0;
    const Reference base = ParseReference(decode ? DecodeEscapes(BaseUrl) : BaseUrl);
    const Reference relative = ParseReference(decode ? DecodeEscapes(RelativeUrl) : RelativeUrl);
    if (!relative.HasScheme && !base.HasScheme) {
        SetLastError(ERROR_INTERNET_INVALID_URL);
        return 0;
    }
    return ReturnText(Compose(Resolve(base, relative), Flags), Buffer, BufferLength);
}

} // namespace larkspool
