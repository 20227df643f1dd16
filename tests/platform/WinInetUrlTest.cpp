#include "platform/wininet/LastResponseInfo.h"
#include "platform/wininet/WinInet.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>

using namespace larkspool;

namespace {

struct Cracked {
    const char* Url;
    DWORD Flags;
    INTERNET_SCHEME Scheme;
    INTERNET_PORT Port;
    const char *Host, *User, *Password, *Path, *Extra;
};

// Cracks into caller buffers, as the HTTP component does, and checks every part.
void ExpectCrack(const Cracked& Want) {
    char text[6][256];
    URL_COMPONENTSA c{};
    c.dwStructSize = sizeof(c);
    char** slots[] = {&c.lpszHostName, &c.lpszUserName,  &c.lpszPassword,
                      &c.lpszUrlPath,  &c.lpszExtraInfo, &c.lpszScheme};
    DWORD* lengths[] = {&c.dwHostNameLength, &c.dwUserNameLength,  &c.dwPasswordLength,
                        &c.dwUrlPathLength,  &c.dwExtraInfoLength, &c.dwSchemeLength};
    for (int i = 0; i < 6; ++i) {
        *slots[i] = text[i];
        *lengths[i] = sizeof(text[i]);
    }
    ASSERT_TRUE(InternetCrackUrlA(Want.Url, 0, Want.Flags, &c)) << Want.Url;
    const char* expected[] = {Want.Host, Want.User, Want.Password, Want.Path, Want.Extra};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(std::string(text[i]), expected[i]) << Want.Url;
        EXPECT_EQ(*lengths[i], std::strlen(expected[i])) << Want.Url;
    }
    EXPECT_EQ(c.nScheme, Want.Scheme) << Want.Url;
    EXPECT_EQ(c.nPort, Want.Port) << Want.Url;
}

// The combined URL, or "error N" when combining fails.
std::string Combine(const char* Base, const char* Relative, DWORD Flags) {
    char buffer[2055];
    DWORD length = sizeof(buffer);
    if (!InternetCombineUrlA(Base, Relative, buffer, &length, Flags))
        return "error " + std::to_string(GetLastError());
    EXPECT_EQ(std::strlen(buffer), length);
    return buffer;
}

constexpr DWORD Spaces = ICU_ENCODE_SPACES_ONLY;

} // namespace

TEST(CrackUrl, SplitsIntoParts) {
    const Cracked cases[] = {
        {"http://www.example.com/d/p.html", ICU_ESCAPE, INTERNET_SCHEME_HTTP, 80, "www.example.com",
         "", "", "/d/p.html", ""},
        // A bare host gives an empty path, not "/".
        {"HTTPS://Example.com", ICU_ESCAPE, INTERNET_SCHEME_HTTPS, 443, "Example.com", "", "", "",
         ""},
        {"http://h:8080/x", 0, INTERNET_SCHEME_HTTP, 8080, "h", "", "", "/x", ""},
        {"http://h:/x", 0, INTERNET_SCHEME_HTTP, 80, "h", "", "", "/x", ""},
        {"http://[::1]:81/", 0, INTERNET_SCHEME_HTTP, 81, "::1", "", "", "/", ""},
        {"https://me:pw@h:444/p", 0, INTERNET_SCHEME_HTTPS, 444, "h", "me", "pw", "/p", ""},
        {"http://me:a@b@h/", 0, INTERNET_SCHEME_HTTP, 80, "h", "me", "a@b", "/", ""},
        {"http://h/a%20b/c%2fd?q=%41#x%20y", ICU_ESCAPE, INTERNET_SCHEME_HTTP, 80, "h", "", "",
         "/a b/c/d", "?q=A#x y"},
        {"http://h/a%20b?q=%41", 0, INTERNET_SCHEME_HTTP, 80, "h", "", "", "/a%20b", "?q=%41"},
        {"http://h/1%/%zz/%4/%00", ICU_ESCAPE, INTERNET_SCHEME_HTTP, 80, "h", "", "",
         "/1%/%zz/%4/%00", ""},
        {"http://h/p#f?q", 0, INTERNET_SCHEME_HTTP, 80, "h", "", "", "/p", "#f?q"},
        {"http://h?q=1/2", 0, INTERNET_SCHEME_HTTP, 80, "h", "", "", "", "?q=1/2"},
        {"ftp://f.example/a.zip", 0, INTERNET_SCHEME_FTP, 21, "f.example", "", "", "/a.zip", ""},
        {"file:///tmp/a", 0, INTERNET_SCHEME_FILE, 0, "", "", "", "/tmp/a", ""},
        {"mailto:me@example.com", 0, INTERNET_SCHEME_UNKNOWN, 0, "", "", "", "me@example.com", ""},
    };
    for (const Cracked& c : cases)
        ExpectCrack(c);
}

TEST(CrackUrl, MalformedUrlsFailWithTheirCode) {
    const auto errorOf = [](const char* Url) {
        URL_COMPONENTSA c{};
        c.dwStructSize = sizeof(c);
        return InternetCrackUrlA(Url, 0, 0, &c) ? ERROR_SUCCESS : GetLastError();
    };
    for (const char* url : {"www.example.com/", "", "://h/", "/a/path"})
        EXPECT_EQ(errorOf(url), ERROR_INTERNET_UNRECOGNIZED_SCHEME) << url;
    for (const char* url : {"http://", "https:///p", "http:h/p", "http://u@:80/", "http://h:8o/",
                            "http://h:65536/", "http://h:0/", "http://[::1/"})
        EXPECT_EQ(errorOf(url), ERROR_INTERNET_INVALID_URL) << url;
}

TEST(CrackUrl, PointerModeAndUrlLength) {
    const char* url = "https://u:p@host.example:444/a%20b?x";
    URL_COMPONENTSA c{};
    c.dwStructSize = sizeof(c);
    c.dwHostNameLength = c.dwUrlPathLength = 1;
    ASSERT_TRUE(InternetCrackUrlA(url, 0, ICU_ESCAPE, &c));
    EXPECT_EQ(c.lpszHostName, url + 12);
    EXPECT_EQ(c.dwHostNameLength, 12u);
    EXPECT_EQ(std::string(c.lpszUrlPath, c.dwUrlPathLength), "/a%20b"); // the URL's own text
    EXPECT_EQ(c.lpszScheme, nullptr);                                   // not requested
    EXPECT_EQ(c.lpszExtraInfo, nullptr);

    c = {};
    c.dwStructSize = sizeof(c);
    c.dwUrlPathLength = 1;
    ASSERT_TRUE(InternetCrackUrlA("http://h/path", 8, 0, &c));
    EXPECT_EQ(c.dwUrlPathLength, 0u);
    c.dwStructSize = sizeof(c) - 1;
    EXPECT_FALSE(InternetCrackUrlA("http://h/", 0, 0, &c));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST(CrackUrl, TooSmallBufferFailsAndWritesNothing) {
    char host[12] = "untouched", path[64] = "untouched";
    URL_COMPONENTSA c{};
    c.dwStructSize = sizeof(c);
    c.lpszHostName = host;
    c.lpszUrlPath = path;
    c.dwHostNameLength = sizeof(host); // "example.com" and its terminator just fit
    c.dwUrlPathLength = sizeof(path);
    ASSERT_TRUE(InternetCrackUrlA("http://example.com/x", 0, ICU_ESCAPE, &c));
    EXPECT_EQ(c.dwHostNameLength, 11u);

    std::strcpy(path, "untouched");
    c.dwHostNameLength = sizeof(host);
    c.dwUrlPathLength = sizeof(path);
    EXPECT_FALSE(InternetCrackUrlA("http://example.org2/x", 0, ICU_ESCAPE, &c));
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(c.dwHostNameLength, 13u); // needed, terminator included
    EXPECT_STREQ(path, "untouched");
}

TEST(CombineUrl, ResolvesAndEncodes) {
    const char* rfc = "http://a/b/c/d;p?q";
    const struct {
        const char *Base, *Relative;
        DWORD Flags;
        const char* Want;
    } cases[] = {
        {"http://host:8080", "/a b/c?x", Spaces, "http://host:8080/a%20b/c?x"},
        {"https://h", "/<a>|?q=1 2#f g", Spaces, "https://h/<a>|?q=1%202#f%20g"},
        {"http://h", "/a b<\xC3\xA9>%41\x01", 0, "http://h/a%20b%3C%C3%A9%3E%41%01"},
        {"http://h", "/a b<>", ICU_NO_ENCODE, "http://h/a b<>"},
        {"http://h", "", Spaces, "http://h/"},
        {"http://h", "/trailing  ", 0, "http://h/trailing"},
        {rfc, "g", Spaces, "http://a/b/c/g"},
        {rfc, "../../../g", Spaces, "http://a/g"},
        {rfc, "/./g/../h", Spaces, "http://a/h"},
        {rfc, "..", Spaces, "http://a/b/"},
        {rfc, "?y", Spaces, "http://a/b/c/d;p?y"},
        {rfc, "#s", Spaces, "http://a/b/c/d;p?q#s"},
        {rfc, "g?y/./x", Spaces, "http://a/b/c/g?y/./x"},
        {"http://h:8080", "https://o.example/x y", Spaces, "https://o.example/x%20y"},
        {"https://h/a/b", "//cdn.example/l.js", Spaces, "https://cdn.example/l.js"},
        {"not a url", "http://ok/", Spaces, "http://ok/"},
        {"not a url", "/path", Spaces, "error 12005"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Combine(c.Base, c.Relative, c.Flags), c.Want) << c.Base << " + " << c.Relative;
}

TEST(CombineUrl, BufferSizeIsReportedWithTheTerminator) {
    char buffer[64];
    DWORD length = 16; // "http://host/path" without room for the terminator
    EXPECT_FALSE(InternetCombineUrlA("http://host", "/path", buffer, &length, 0));
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(length, 17u);
    ASSERT_TRUE(InternetCombineUrlA("http://host", "/path", buffer, &length, 0));
    EXPECT_EQ(length, 16u);
    EXPECT_STREQ(buffer, "http://host/path");
    length = 0;
    EXPECT_FALSE(InternetCombineUrlA("http://host", "/path", nullptr, &length, 0));
    EXPECT_EQ(length, 17u);
}

TEST(WinInetErrors, TextsForTheLayersCodesOnly) {
    for (const DWORD code :
         {ERROR_INTERNET_TIMEOUT, ERROR_INTERNET_EXTENDED_ERROR, ERROR_INTERNET_INVALID_URL,
          ERROR_INTERNET_UNRECOGNIZED_SCHEME, ERROR_INTERNET_NAME_NOT_RESOLVED,
          ERROR_INTERNET_OPERATION_CANCELLED, ERROR_INTERNET_CANNOT_CONNECT,
          ERROR_INTERNET_CONNECTION_ABORTED, ERROR_INTERNET_SEC_CERT_DATE_INVALID,
          ERROR_INTERNET_SEC_CERT_CN_INVALID, ERROR_INTERNET_HTTP_TO_HTTPS_ON_REDIR,
          ERROR_HTTP_REDIRECT_FAILED, ERROR_INTERNET_HTTPS_TO_HTTP_ON_REDIR,
          ERROR_HTTP_INVALID_SERVER_RESPONSE, ERROR_INTERNET_DECODING_FAILED})
        EXPECT_FALSE(InternetErrorText(code).empty()) << code;
    EXPECT_EQ(InternetErrorText(ERROR_INTERNET_TIMEOUT), "The operation timed out");
    // As WinInet's own message table: nothing for general system codes.
    for (const DWORD code : {DWORD{0}, ERROR_INVALID_PARAMETER, DWORD{12008}, DWORD{99999}})
        EXPECT_EQ(InternetErrorText(code), "") << code;
}

TEST(WinInetErrors, LastErrorAndResponseInfoBelongToTheThread) {
    SetLastError(ERROR_INTERNET_TIMEOUT);
    SetLastResponseInfo(550, "550 No such file");
    DWORD otherError = 1, otherInfoError = 1, otherLength = 1;
    std::thread([&] {
        otherError = GetLastError();
        SetLastError(ERROR_INTERNET_CANNOT_CONNECT);
        char text[8];
        InternetGetLastResponseInfoA(&otherInfoError, text, &otherLength);
    }).join();
    EXPECT_EQ(otherError, 0u);
    EXPECT_EQ(otherInfoError, 0u);
    EXPECT_EQ(otherLength, 0u);
    EXPECT_EQ(GetLastError(), ERROR_INTERNET_TIMEOUT);

    DWORD error = 0;
    char text[64];
    DWORD length = 16; // one short: the terminator needs room too
    EXPECT_FALSE(InternetGetLastResponseInfoA(&error, text, &length));
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(length, 17u);
    ASSERT_TRUE(InternetGetLastResponseInfoA(&error, text, &length));
    EXPECT_EQ(error, 550u);
    EXPECT_EQ(length, 16u);
    EXPECT_STREQ(text, "550 No such file");
    SetLastResponseInfo(0, "");
}
