#include "support/TestCertificates.h"

#include <openssl/pem.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <unistd.h>

namespace larkspool::check {

namespace {

constexpr long Day = 24 * 60 * 60;

EVP_PKEY* NewKey() {
    EVP_PKEY* key = EVP_EC_gen("P-256");
    if (key == nullptr)
        throw std::runtime_error("cannot make a test key");
    return key;
}

void AddExtension(X509* Certificate, X509V3_CTX& Context, int Nid, const char* Value) {
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &Context, Nid, Value);
    if (extension == nullptr)
        throw std::runtime_error("bad test certificate extension");
    X509_add_ext(Certificate, extension, -1);
    X509_EXTENSION_free(extension);
}

X509* NewCertificate(EVP_PKEY* Key, const char* CommonName, long Serial, long FromSeconds,
                     long ToSeconds) {
    X509* certificate = X509_new();
    X509_set_version(certificate, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(certificate), Serial);
    X509_gmtime_adj(X509_getm_notBefore(certificate), FromSeconds);
    X509_gmtime_adj(X509_getm_notAfter(certificate), ToSeconds);
    X509_set_pubkey(certificate, Key);
    X509_NAME* name = X509_get_subject_name(certificate);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>(CommonName), -1, -1, 0);
    return certificate;
}

void Free(TlsIdentity& Identity) {
    X509_free(Identity.Certificate);
    EVP_PKEY_free(Identity.Key);
}

} // namespace

TestAuthority::TestAuthority() {
    Ca.Key = NewKey();
    Ca.Certificate = NewCertificate(Ca.Key, "Larkspool Test CA", Serial++, -Day, 30 * Day);
    X509_set_issuer_name(Ca.Certificate, X509_get_subject_name(Ca.Certificate));
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, Ca.Certificate, Ca.Certificate, nullptr, nullptr, 0);
    AddExtension(Ca.Certificate, context, NID_basic_constraints, "critical,CA:TRUE");
    AddExtension(Ca.Certificate, context, NID_key_usage, "critical,keyCertSign,cRLSign");
    AddExtension(Ca.Certificate, context, NID_subject_key_identifier, "hash");
    X509_sign(Ca.Certificate, Ca.Key, EVP_sha256());

    ValidServer = Issue("IP:127.0.0.1,DNS:localhost", -Day, 30 * Day);
    WrongNameServer = Issue("DNS:wrong.invalid", -Day, 30 * Day);
    ExpiredServer = Issue("IP:127.0.0.1,DNS:localhost", -3 * Day, -Day);

    Path = (std::filesystem::temp_directory_path() /
            ("larkspool-test-ca-" + std::to_string(getpid()) + ".pem"))
               .string();
    FILE* file = std::fopen(Path.c_str(), "w");
    if (file == nullptr || PEM_write_X509(file, Ca.Certificate) != 1)
        throw std::runtime_error("cannot write the test CA");
    std::fclose(file);
}

TestAuthority::~TestAuthority() {
    std::remove(Path.c_str());
    for (TlsIdentity* identity : {&Ca, &ValidServer, &WrongNameServer, &ExpiredServer})
        Free(*identity);
}

TlsIdentity TestAuthority::Issue(const char* AltNames, long FromSeconds, long ToSeconds) {
    TlsIdentity identity;
    identity.Key = NewKey();
    identity.Certificate =
        NewCertificate(identity.Key, "Larkspool Test Server", Serial++, FromSeconds, ToSeconds);
    X509_set_issuer_name(identity.Certificate, X509_get_subject_name(Ca.Certificate));
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, Ca.Certificate, identity.Certificate, nullptr, nullptr, 0);
    AddExtension(identity.Certificate, context, NID_basic_constraints, "CA:FALSE");
    AddExtension(identity.Certificate, context, NID_subject_alt_name, AltNames);
    AddExtension(identity.Certificate, context, NID_ext_key_usage, "serverAuth");
    AddExtension(identity.Certificate, context, NID_subject_key_identifier, "hash");
    AddExtension(identity.Certificate, context, NID_authority_key_identifier, "keyid:always");
    X509_sign(identity.Certificate, Ca.Key, EVP_sha256());
    return identity;
}

const TestAuthority& TestAuthority::Shared() {
    static TestAuthority authority;
    return authority;
}

} // namespace larkspool::check
