#include "platform/wininet/TrustedCa.h"
#include "platform/wininet/WinInet.h"
#include "support/LocalServer.h"
#include "support/TestCertificates.h"
#include "support/WinInetFixture.h"

#include <gtest/gtest.h>

namespace larkspool {
namespace {

using check::LocalServer;
using check::TestAuthority;
using check::TlsIdentity;

class WinInetTlsTest : public check::WinInetFixture {
protected:
    void SetUp() override { SetTrustedCaFile(TestAuthority::Shared().CaFile()); }
    void TearDown() override {
        WinInetFixture::TearDown();
        SetTrustedCaFile("");
    }

    // The completion's error (0 for success) of a GET of /plain over https.
    DWORD Get(HINTERNET Internet, const LocalServer& Server, DWORD Flags) {
        HINTERNET r = Request(Internet, Server.Port(), "/plain", Flags | INTERNET_FLAG_SECURE);
        INTERNET_ASYNC_RESULT result = Send(r);
        if (result.dwResult && ReadAll(r) != "<html><body>Hello</body></html>")
            return 0xbad;
        return result.dwResult ? 0 : result.dwError;
    }
};

struct CertificateCase {
    const char* Name;
    const TlsIdentity& (TestAuthority::*Identity)() const;
    DWORD Flags;
    DWORD Error;
};

class WinInetCertificateTest : public WinInetTlsTest,
                               public ::testing::WithParamInterface<CertificateCase> {};

TEST_P(WinInetCertificateTest, OnlyTheNamedFaultIsExcused) {
    const CertificateCase& c = GetParam();
    LocalServer& server = Serve({}, &(TestAuthority::Shared().*c.Identity)());
    EXPECT_EQ(Get(Open(), server, c.Flags), c.Error);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WinInetCertificateTest,
    ::testing::Values(CertificateCase{"Valid", &TestAuthority::Valid, 0, 0},
                      CertificateCase{"WrongName", &TestAuthority::WrongName, 0,
                                      ERROR_INTERNET_SEC_CERT_CN_INVALID},
                      CertificateCase{"WrongNameIgnored", &TestAuthority::WrongName,
                                      INTERNET_FLAG_IGNORE_CERT_CN_INVALID, 0},
                      CertificateCase{"Expired", &TestAuthority::Expired, 0,
                                      ERROR_INTERNET_SEC_CERT_DATE_INVALID},
                      CertificateCase{"ExpiredIgnored", &TestAuthority::Expired,
                                      INTERNET_FLAG_IGNORE_CERT_DATE_INVALID, 0},
                      CertificateCase{"ExpiredNotExcusedByName", &TestAuthority::Expired,
                                      INTERNET_FLAG_IGNORE_CERT_CN_INVALID,
                                      ERROR_INTERNET_SEC_CERT_DATE_INVALID}),
    [](const auto& Info) { return Info.param.Name; });

TEST_F(WinInetTlsTest, LenientConnectionsAreNotReusedByStrictRequests) {
    LocalServer& server = Serve({}, &TestAuthority::Shared().Expired());
    HINTERNET internet = Open();
    EXPECT_EQ(Get(internet, server, INTERNET_FLAG_IGNORE_CERT_DATE_INVALID), 0u);
    EXPECT_EQ(Get(internet, server, 0), ERROR_INTERNET_SEC_CERT_DATE_INVALID);
}

TEST_F(WinInetTlsTest, TheTestCaIsTrustedOnlyWhenNamed) {
    LocalServer& server = Serve({}, &TestAuthority::Shared().Valid());
    SetTrustedCaFile("");
    EXPECT_EQ(Get(Open(), server, 0), ERROR_INTERNET_SEC_INVALID_CERT);
}

TEST_F(WinInetTlsTest, RedirectsChangeSchemeOnlyWhenAllowed) {
    LocalServer& plain = Serve();
    LocalServer& secure = Serve({}, &TestAuthority::Shared().Valid());
    HINTERNET internet = Open();
    std::string up = "/redirect?to=" + secure.Url("/plain");
    HINTERNET r = Request(internet, plain.Port(), up.c_str());
    EXPECT_EQ(Send(r).dwError, ERROR_INTERNET_HTTP_TO_HTTPS_ON_REDIR);
    r = Request(internet, plain.Port(), up.c_str(), INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTPS);
    ASSERT_TRUE(Send(r).dwResult);
    EXPECT_EQ(ReadAll(r), "<html><body>Hello</body></html>");

    std::string down = "/redirect?to=" + plain.Url("/plain");
    r = Request(internet, secure.Port(), down.c_str(), INTERNET_FLAG_SECURE);
    EXPECT_EQ(Send(r).dwError, ERROR_INTERNET_HTTPS_TO_HTTP_ON_REDIR);
    r = Request(internet, secure.Port(), down.c_str(),
                INTERNET_FLAG_SECURE | INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTP);
    ASSERT_TRUE(Send(r).dwResult);
    EXPECT_EQ(Status(r), 200u);
}

} // namespace
} // namespace larkspool
