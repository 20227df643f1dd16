// Which proxy a hop uses, and which certificate faults a request excuses.

#include "platform/wininet/ProxyAndTls.h"

#include <gtest/gtest.h>

#include <openssl/x509_vfy.h>

#include <memory>

namespace larkspool::wininet {
namespace {

TEST(ProxyList, ABareEntryServesBothKindsOfAddress) {
    ProxyList list = ParseProxyList("127.0.0.1:3128");
    EXPECT_EQ(list.Http, "http://127.0.0.1:3128");
    EXPECT_EQ(list.Https, "http://127.0.0.1:3128");
    list = ParseProxyList("socks5://proxy:1080");
    EXPECT_EQ(list.Http, "socks5://proxy:1080");
    EXPECT_EQ(list.Https, "socks5://proxy:1080");
}

TEST(ProxyList, NamedEntriesServeTheirKindOnly) {
    ProxyList list = ParseProxyList("http=web:80;https=https://secure:443");
    EXPECT_EQ(list.Http, "http://web:80");
    EXPECT_EQ(list.Https, "https://secure:443");
    list = ParseProxyList("http=web:80");
    EXPECT_EQ(list.Http, "http://web:80");
    EXPECT_EQ(list.Https, "");
    // Kinds the layer has no use for are passed over.
    list = ParseProxyList("ftp=files:21 socks=s:1080");
    EXPECT_EQ(list.Http, "");
    EXPECT_EQ(list.Https, "");
}

TEST(ProxyList, TheFirstBareEntryAndLaterNamedOnesWin) {
    ProxyList list = ParseProxyList("  first:1 ;; second:2  https=third:3");
    EXPECT_EQ(list.Http, "http://first:1");
    EXPECT_EQ(list.Https, "http://third:3");
    list = ParseProxyList("https=named:1 bare:2");
    EXPECT_EQ(list.Http, "http://bare:2");
    EXPECT_EQ(list.Https, "http://named:1");
    EXPECT_EQ(ParseProxyList(" ; ").Http, "");
}

TEST(ProxyChoice, AccessTypeDecides) {
    ProxyList list{"http://web:80", "http://secure:443"};
    EXPECT_EQ(ChooseProxy(INTERNET_OPEN_TYPE_PRECONFIG, false, list).How,
              ProxyChoice::Kind::Environment);
    EXPECT_EQ(ChooseProxy(INTERNET_OPEN_TYPE_DIRECT, true, list).How, ProxyChoice::Kind::Direct);
    ProxyChoice plain = ChooseProxy(INTERNET_OPEN_TYPE_PROXY, false, list);
    EXPECT_EQ(plain.How, ProxyChoice::Kind::Named);
    EXPECT_EQ(plain.Address, "http://web:80");
    ProxyChoice secure = ChooseProxy(INTERNET_OPEN_TYPE_PROXY, true, list);
    EXPECT_EQ(secure.How, ProxyChoice::Kind::Named);
    EXPECT_EQ(secure.Address, "http://secure:443");
    // A kind without a proxy goes direct.
    ProxyChoice none = ChooseProxy(INTERNET_OPEN_TYPE_PROXY, true, ProxyList{"http://web:80", ""});
    EXPECT_EQ(none.How, ProxyChoice::Kind::Named);
    EXPECT_EQ(none.Address, "");
}

// The verdict and the error left of a failed check of Error.
std::pair<int, int> VerifyWith(int Ok, int Error) {
    std::unique_ptr<X509_STORE_CTX, decltype(&X509_STORE_CTX_free)> store(X509_STORE_CTX_new(),
                                                                          X509_STORE_CTX_free);
    X509_STORE_CTX_set_error(store.get(), Error);
    int verdict = VerifyIgnoringDates(Ok, store.get());
    return {verdict, X509_STORE_CTX_get_error(store.get())};
}

TEST(LenientDates, OnlyDateFaultsAreExcused) {
    EXPECT_EQ(VerifyWith(0, X509_V_ERR_CERT_HAS_EXPIRED), std::make_pair(1, int(X509_V_OK)));
    EXPECT_EQ(VerifyWith(0, X509_V_ERR_CERT_NOT_YET_VALID), std::make_pair(1, int(X509_V_OK)));
    EXPECT_EQ(VerifyWith(0, X509_V_ERR_HOSTNAME_MISMATCH),
              std::make_pair(0, int(X509_V_ERR_HOSTNAME_MISMATCH)));
    EXPECT_EQ(VerifyWith(0, X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT),
              std::make_pair(0, int(X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT)));
    EXPECT_EQ(VerifyWith(1, X509_V_OK), std::make_pair(1, int(X509_V_OK)));
}

} // namespace
} // namespace larkspool::wininet
