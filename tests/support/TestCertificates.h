#pragma once

// Certificates made at test time: a test CA and server certificates it signs,
// for TLS test servers. Point the client at CaFile() (SetTrustedCaFile).

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <string>

namespace larkspool::check {

struct TlsIdentity {
    X509* Certificate = nullptr;
    EVP_PKEY* Key = nullptr;
};

class TestAuthority {
public:
    TestAuthority();
    ~TestAuthority();
    TestAuthority(const TestAuthority&) = delete;
    TestAuthority& operator=(const TestAuthority&) = delete;

    // The CA certificate as a PEM file; removed with the authority.
    const std::string& CaFile() const { return Path; }
    // For 127.0.0.1 and localhost, valid now.
    const TlsIdentity& Valid() const { return ValidServer; }
    // Valid now, but only for wrong.invalid.
    const TlsIdentity& WrongName() const { return WrongNameServer; }
    // For 127.0.0.1 and localhost, expired yesterday.
    const TlsIdentity& Expired() const { return ExpiredServer; }

    // One authority for the whole test program.
    static const TestAuthority& Shared();

private:
    TlsIdentity Issue(const char* AltNames, long FromSeconds, long ToSeconds);

    TlsIdentity Ca, ValidServer, WrongNameServer, ExpiredServer;
    std::string Path;
    long Serial = 1;
};

} // namespace larkspool::check
