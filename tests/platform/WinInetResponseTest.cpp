// What comes back: response heads as libcurl hands them over, the body's
// buffer, and the error codes of failed transfers.

#include "platform/wininet/ByteQueue.h"
#include "platform/wininet/CurlErrors.h"
#include "platform/wininet/ResponseHead.h"

#include <gtest/gtest.h>

#include <openssl/x509_vfy.h>

#include <string>
#include <vector>

namespace larkspool::wininet {
namespace {

TEST(ResponseHead, StatusLinesStartWithTheProtocol) {
    EXPECT_TRUE(IsStatusLine("HTTP/1.1 200 OK\r\n"));
    EXPECT_TRUE(IsStatusLine("HTTP/2 204\r\n"));
    EXPECT_FALSE(IsStatusLine("http/1.1 200 OK\r\n"));
    EXPECT_FALSE(IsStatusLine("Content-Type: text/html\r\n"));
    EXPECT_FALSE(IsStatusLine("HTTP"));
}

TEST(ResponseHead, TheCodeIsTheNumberAfterTheFirstSpace) {
    EXPECT_EQ(StatusCodeOf("HTTP/1.1 404 Not Found\r\n"), 404);
    EXPECT_EQ(StatusCodeOf("HTTP/1.1 200\r\n"), 200);
    EXPECT_EQ(StatusCodeOf("HTTP/1.1  301 Moved\r\n"), 301);
    EXPECT_EQ(StatusCodeOf("HTTP/1.1\r\n"), 0);
    EXPECT_EQ(StatusCodeOf("HTTP/1.1 OK\r\n"), 0);
    // The view ends before the digits that follow it in memory.
    std::string buffer = "HTTP/1.1 20\r\n";
    EXPECT_EQ(StatusCodeOf(std::string_view(buffer).substr(0, 10)), 2);
}

TEST(ResponseHead, LineEndsAreCutOff) {
    EXPECT_EQ(WithoutLineEnd("Name: value\r\n"), "Name: value");
    EXPECT_EQ(WithoutLineEnd("Name: value\n"), "Name: value");
    EXPECT_EQ(WithoutLineEnd("Name: value \r\r\n"), "Name: value ");
    EXPECT_EQ(WithoutLineEnd("\r\n"), "");
}

TEST(ResponseHead, CodeClasses) {
    EXPECT_TRUE(IsInformational(100));
    EXPECT_TRUE(IsInformational(199));
    EXPECT_FALSE(IsInformational(200));
    EXPECT_FALSE(IsInformational(99));
    for (long code : {301L, 302L, 303L, 307L, 308L})
        EXPECT_TRUE(IsRedirect(code)) << code;
    for (long code : {300L, 304L, 305L, 306L, 309L, 200L})
        EXPECT_FALSE(IsRedirect(code)) << code;
}

TEST(ResponseHead, HeadersAreFoundByNameWithoutCaseAndByIndex) {
    const std::string head = "HTTP/1.1 200 OK\r\n"
                             "Set-Cookie: a=1\r\n"
                             "Content-Type :  text/html \r\n"
                             "set-cookie: b=2\r\n"
                             "Broken line\r\n"
                             "X-Empty:\r\n"
                             "\r\n";
    EXPECT_EQ(FindHeader(head, "content-type", 0), "text/html");
    EXPECT_EQ(FindHeader(head, "Set-Cookie", 0), "a=1");
    EXPECT_EQ(FindHeader(head, "Set-Cookie", 1), "b=2");
    EXPECT_EQ(FindHeader(head, "Set-Cookie", 2), std::nullopt);
    EXPECT_EQ(FindHeader(head, "X-Empty", 0), "");
    EXPECT_EQ(FindHeader(head, "Broken line", 0), std::nullopt);
    EXPECT_EQ(FindHeader(head, "Location", 0), std::nullopt);
    // The status line is no header, even when it looks like one.
    EXPECT_EQ(FindHeader("Location: /x\r\n\r\n", "Location", 0), std::nullopt);
}

std::string TakeAll(ByteQueue& Queue, std::size_t Block) {
    std::string out;
    std::vector<char> buffer(Block);
    while (std::size_t n = Queue.Take(buffer.data(), buffer.size()))
        out.append(buffer.data(), n);
    return out;
}

TEST(ByteQueue, BytesComeOutInOrderAcrossTheRingsEnd) {
    ByteQueue queue;
    std::string expected, got;
    // Uneven writes and reads make the ring wrap at many offsets.
    std::vector<char> block(7001);
    for (int round = 0; round < 200; ++round) {
        std::string piece;
        for (int i = 0; i < 3000 + round * 37; ++i)
            piece += static_cast<char>((round * 131 + i) % 256);
        queue.Append(piece.data(), piece.size());
        expected += piece;
        std::size_t n = queue.Take(block.data(), block.size());
        got.append(block.data(), n);
        EXPECT_EQ(queue.Size(), expected.size() - got.size());
    }
    got += TakeAll(queue, 4096);
    EXPECT_EQ(got, expected);
    EXPECT_EQ(queue.Size(), 0u);
}

TEST(ByteQueue, GrowsWhenAWriteDoesNotFitAndKeepsWhatWasThere) {
    ByteQueue queue;
    std::string first(50000, 'a'), second(100000, 'b');
    queue.Append(first.data(), first.size());
    char few[10];
    EXPECT_EQ(queue.Take(few, sizeof few), sizeof few);
    queue.Append(second.data(), second.size());
    EXPECT_EQ(queue.Size(), first.size() - sizeof few + second.size());
    EXPECT_EQ(TakeAll(queue, 65536), first.substr(sizeof few) + second);
}

TEST(ByteQueue, EmptyAndClearedQueuesGiveNothing) {
    ByteQueue queue;
    char byte = 'x';
    EXPECT_EQ(queue.Take(&byte, 1), 0u);
    queue.Append(nullptr, 0);
    EXPECT_EQ(queue.Size(), 0u);
    queue.Append("abc", 3);
    queue.Clear();
    EXPECT_EQ(queue.Size(), 0u);
    EXPECT_EQ(queue.Take(&byte, 1), 0u);
    queue.Append("d", 1);
    EXPECT_EQ(TakeAll(queue, 8), "d");
}

struct CurlErrorCase {
    CURLcode Code;
    long Verify;
    DWORD Error;
};

TEST(CurlErrors, EachFailureHasItsWinInetCode) {
    const CurlErrorCase cases[] = {
        {CURLE_OK, X509_V_OK, ERROR_SUCCESS},
        {CURLE_UNSUPPORTED_PROTOCOL, X509_V_OK, ERROR_INTERNET_UNRECOGNIZED_SCHEME},
        {CURLE_URL_MALFORMAT, X509_V_OK, ERROR_INTERNET_INVALID_URL},
        {CURLE_COULDNT_RESOLVE_HOST, X509_V_OK, ERROR_INTERNET_NAME_NOT_RESOLVED},
        {CURLE_COULDNT_RESOLVE_PROXY, X509_V_OK, ERROR_INTERNET_NAME_NOT_RESOLVED},
        {CURLE_COULDNT_CONNECT, X509_V_OK, ERROR_INTERNET_CANNOT_CONNECT},
        {CURLE_OPERATION_TIMEDOUT, X509_V_OK, ERROR_INTERNET_TIMEOUT},
        {CURLE_WEIRD_SERVER_REPLY, X509_V_OK, ERROR_HTTP_INVALID_SERVER_RESPONSE},
        {CURLE_GOT_NOTHING, X509_V_OK, ERROR_HTTP_INVALID_SERVER_RESPONSE},
        {CURLE_PARTIAL_FILE, X509_V_OK, ERROR_INTERNET_CONNECTION_ABORTED},
        {CURLE_SEND_ERROR, X509_V_OK, ERROR_INTERNET_CONNECTION_ABORTED},
        {CURLE_RECV_ERROR, X509_V_OK, ERROR_INTERNET_CONNECTION_ABORTED},
        {CURLE_BAD_CONTENT_ENCODING, X509_V_OK, ERROR_INTERNET_DECODING_FAILED},
        {CURLE_TOO_MANY_REDIRECTS, X509_V_OK, ERROR_HTTP_REDIRECT_FAILED},
        {CURLE_ABORTED_BY_CALLBACK, X509_V_OK, ERROR_INTERNET_OPERATION_CANCELLED},
        {CURLE_OUT_OF_MEMORY, X509_V_OK, ERROR_NOT_ENOUGH_MEMORY},
        {CURLE_SSL_CONNECT_ERROR, X509_V_OK, ERROR_INTERNET_SECURITY_CHANNEL_ERROR},
        {CURLE_SSL_CACERT_BADFILE, X509_V_OK, ERROR_INTERNET_SECURITY_CHANNEL_ERROR},
        {CURLE_SSL_CIPHER, X509_V_OK, ERROR_INTERNET_SECURITY_CHANNEL_ERROR},
        {CURLE_SSL_CERTPROBLEM, X509_V_OK, ERROR_INTERNET_SEC_CERT_ERRORS},
        {CURLE_SSL_ISSUER_ERROR, X509_V_OK, ERROR_INTERNET_SEC_CERT_ERRORS},
        {CURLE_SSL_PINNEDPUBKEYNOTMATCH, X509_V_OK, ERROR_INTERNET_SEC_CERT_ERRORS},
        {CURLE_SSL_INVALIDCERTSTATUS, X509_V_OK, ERROR_INTERNET_SEC_CERT_ERRORS},
        {CURLE_FILESIZE_EXCEEDED, X509_V_OK, ERROR_INTERNET_INTERNAL_ERROR},
    };
    for (const CurlErrorCase& c : cases)
        EXPECT_EQ(MapCurlError(c.Code, c.Verify), c.Error) << curl_easy_strerror(c.Code);
}

TEST(CurlErrors, AFailedCertificateCheckSaysWhatFailed) {
    const CurlErrorCase cases[] = {
        {CURLE_PEER_FAILED_VERIFICATION, X509_V_ERR_CERT_HAS_EXPIRED,
         ERROR_INTERNET_SEC_CERT_DATE_INVALID},
        {CURLE_PEER_FAILED_VERIFICATION, X509_V_ERR_CERT_NOT_YET_VALID,
         ERROR_INTERNET_SEC_CERT_DATE_INVALID},
        {CURLE_PEER_FAILED_VERIFICATION, X509_V_OK, ERROR_INTERNET_SEC_CERT_CN_INVALID},
        {CURLE_PEER_FAILED_VERIFICATION, X509_V_ERR_UNSPECIFIED,
         ERROR_INTERNET_SEC_CERT_CN_INVALID},
        {CURLE_PEER_FAILED_VERIFICATION, X509_V_ERR_HOSTNAME_MISMATCH,
         ERROR_INTERNET_SEC_CERT_CN_INVALID},
        {CURLE_PEER_FAILED_VERIFICATION, X509_V_ERR_IP_ADDRESS_MISMATCH,
         ERROR_INTERNET_SEC_CERT_CN_INVALID},
        {CURLE_PEER_FAILED_VERIFICATION, X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY,
         ERROR_INTERNET_SEC_INVALID_CERT},
        {CURLE_PEER_FAILED_VERIFICATION, X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT,
         ERROR_INTERNET_SEC_INVALID_CERT},
    };
    for (const CurlErrorCase& c : cases)
        EXPECT_EQ(MapCurlError(c.Code, c.Verify), c.Error) << c.Verify;
}

} // namespace
} // namespace larkspool::wininet
