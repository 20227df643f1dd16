// Compressed bodies: every request offers gzip, deflate and br, the reader
// gets the decoded body, and body progress counts the bytes as they came
// over the wire.

#include "platform/wininet/WinInet.h"
#include "support/LocalServer.h"
#include "support/WinInetFixture.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <brotli/encode.h>
#include <zlib.h>

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace larkspool {
namespace {

using check::RawServer;
using ::testing::HasSubstr;

// Text that compresses well but not to nothing: numbered lines.
std::string SampleText(std::size_t Lines) {
    std::string text = "<html><body>\n";
    for (std::size_t i = 0; i < Lines; ++i)
        text += "<p>Line " + std::to_string(i * 7919 % 100003) + " of the sample page</p>\n";
    return text + "</body></html>\n";
}

// WindowBits 15+16: a gzip wrapper; 15: a zlib wrapper (HTTP's "deflate").
std::string Zlib(const std::string& Text, int WindowBits) {
    z_stream z{};
    EXPECT_EQ(deflateInit2(&z, 6, Z_DEFLATED, WindowBits, 8, Z_DEFAULT_STRATEGY), Z_OK);
    std::string out(deflateBound(&z, Text.size()), '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(Text.data()));
    z.avail_in = static_cast<uInt>(Text.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

std::string Brotli(const std::string& Text) {
    std::size_t size = BrotliEncoderMaxCompressedSize(Text.size());
    std::string out(size, '\0');
    EXPECT_TRUE(BrotliEncoderCompress(BROTLI_DEFAULT_QUALITY, BROTLI_DEFAULT_WINDOW,
                                      BROTLI_DEFAULT_MODE, Text.size(),
                                      reinterpret_cast<const std::uint8_t*>(Text.data()), &size,
                                      reinterpret_cast<std::uint8_t*>(out.data())));
    out.resize(size);
    return out;
}

std::string Head(const std::string& Encoding, std::size_t Length) {
    std::string head = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n";
    if (!Encoding.empty())
        head += "Content-Encoding: " + Encoding + "\r\n";
    return head + "Content-Length: " + std::to_string(Length) + "\r\nConnection: close\r\n\r\n";
}

std::string Lower(std::string Text) {
    for (char& c : Text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return Text;
}

class WinInetEncodingTest : public check::WinInetFixture {
protected:
    // The sum of the body progress reports (the head's report included).
    std::uint64_t Reported() const {
        std::uint64_t sum = 0;
        for (const auto& item : Events.Logged())
            if (item.Status == INTERNET_STATUS_RESPONSE_RECEIVED)
                sum += item.Number;
        return sum;
    }

    // Reads to the end or the first failure; the error code of the failure,
    // or ERROR_SUCCESS.
    DWORD ReadUntilEnd(HINTERNET Request, std::string& Body) {
        std::vector<char> block(16384);
        for (;;) {
            DWORD n = 0;
            if (!InternetReadFile(Request, block.data(), static_cast<DWORD>(block.size()), &n)) {
                if (GetLastError() != ERROR_IO_PENDING)
                    return GetLastError();
                INTERNET_ASYNC_RESULT result = Events.WaitComplete();
                if (!result.dwResult)
                    return result.dwError;
            }
            if (n == 0)
                return ERROR_SUCCESS;
            Body.append(block.data(), n);
        }
    }

    // Serves Text encoded as Encoded under Encoding: the request offers the
    // encodings, the reader gets Text, and the count is of Encoded.
    void ExpectDecoded(const std::string& Encoding, const std::string& Encoded);
    // Serves Body as Encoding: reading it fails as undecodable.
    void ExpectUndecodable(const std::string& Encoding, const std::string& Body);

    const std::string Text = SampleText(20000);
};

constexpr DWORD HTTP_QUERY_CONTENT_ENCODING = 29;

void WinInetEncodingTest::ExpectDecoded(const std::string& Encoding, const std::string& Encoded) {
    ASSERT_LT(Encoded.size() * 4, Text.size());
    const std::string head = Head(Encoding, Encoded.size());
    RawServer server([&](const std::string&) { return head + Encoded; });
    HINTERNET r = Request(Open(), server.Port(), "/page.html");
    ASSERT_TRUE(Send(r).dwResult);
    std::string body;
    EXPECT_EQ(ReadUntilEnd(r, body), ERROR_SUCCESS);
    EXPECT_EQ(body, Text);
    EXPECT_EQ(Reported(), head.size() + Encoded.size());
    // The head is the server's: the caller can tell what came.
    EXPECT_EQ(Query(r, HTTP_QUERY_CONTENT_ENCODING), Encoding);
    InternetCloseHandle(r);
    ASSERT_EQ(server.Requests().size(), 1u);
    EXPECT_THAT(Lower(server.Requests()[0]),
                HasSubstr("\r\naccept-encoding: gzip, deflate, br\r\n"));
}

void WinInetEncodingTest::ExpectUndecodable(const std::string& Encoding, const std::string& Body) {
    const std::string head = Head(Encoding, Body.size());
    RawServer server([&](const std::string&) { return head + Body; });
    HINTERNET r = Request(Open(), server.Port(), "/broken.html");
    ASSERT_TRUE(Send(r).dwResult);
    std::string body;
    EXPECT_EQ(ReadUntilEnd(r, body), ERROR_INTERNET_DECODING_FAILED);
    EXPECT_LT(body.size(), Text.size());
    InternetCloseHandle(r);
}

TEST_F(WinInetEncodingTest, GzipIsDecodedAndCountedAsSent) {
    ExpectDecoded("gzip", Zlib(Text, 15 + 16));
}

TEST_F(WinInetEncodingTest, DeflateIsDecodedAndCountedAsSent) {
    ExpectDecoded("deflate", Zlib(Text, 15));
}

TEST_F(WinInetEncodingTest, BrotliIsDecodedAndCountedAsSent) {
    ExpectDecoded("br", Brotli(Text));
}

TEST_F(WinInetEncodingTest, ChunkedCompressedBodyCountsTheCompressedBytes) {
    const std::string text = SampleText(30000);
    const std::string encoded = Zlib(text, 15 + 16);
    const std::string head = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n"
                             "Content-Encoding: gzip\r\nTransfer-Encoding: chunked\r\n"
                             "Connection: close\r\n\r\n";
    std::string chunked;
    constexpr std::size_t piece = 5000;
    for (std::size_t at = 0; at < encoded.size(); at += piece) {
        const std::string part = encoded.substr(at, piece);
        char size[32];
        std::snprintf(size, sizeof size, "%zx\r\n", part.size());
        chunked += size + part + "\r\n";
    }
    chunked += "0\r\n\r\n";
    RawServer server([&](const std::string&) { return head + chunked; });
    HINTERNET r = Request(Open(), server.Port(), "/chunked.html");
    ASSERT_TRUE(Send(r).dwResult);
    std::string body;
    EXPECT_EQ(ReadUntilEnd(r, body), ERROR_SUCCESS);
    EXPECT_EQ(body, text);
    // The chunks' framing is not part of the body.
    EXPECT_EQ(Reported(), head.size() + encoded.size());
    InternetCloseHandle(r);
}

TEST_F(WinInetEncodingTest, UnencodedBodyIsPassedOnAndCountedAsBefore) {
    const std::string text = SampleText(5000);
    const std::string head = Head("", text.size());
    RawServer server([&](const std::string&) { return head + text; });
    HINTERNET r = Request(Open(), server.Port(), "/plain.html");
    ASSERT_TRUE(Send(r).dwResult);
    std::string body;
    EXPECT_EQ(ReadUntilEnd(r, body), ERROR_SUCCESS);
    EXPECT_EQ(body, text);
    EXPECT_EQ(Reported(), head.size() + text.size());
    InternetCloseHandle(r);
}

// A small body that decodes to many times the buffer limit: the transfer
// pauses on decoded bytes and still delivers every one, and the count stays
// that of the wire.
TEST_F(WinInetEncodingTest, BodyDecodingFarBeyondTheBufferArrivesWhole) {
    const std::string text = SampleText(400000);
    ASSERT_GT(text.size(), std::size_t(8) << 20);
    const std::string encoded = Zlib(text, 15 + 16);
    const std::string head = Head("gzip", encoded.size());
    RawServer server([&](const std::string&) { return head + encoded; });
    HINTERNET r = Request(Open(), server.Port(), "/big.html");
    ASSERT_TRUE(Send(r).dwResult);
    std::string body;
    EXPECT_EQ(ReadUntilEnd(r, body), ERROR_SUCCESS);
    EXPECT_TRUE(body == text) << body.size() << " of " << text.size();
    EXPECT_EQ(Reported(), head.size() + encoded.size());
    InternetCloseHandle(r);
}

TEST_F(WinInetEncodingTest, BodyThatIsNotGzipFailsTheRead) {
    ExpectUndecodable("gzip", std::string(3000, 'x'));
}

TEST_F(WinInetEncodingTest, GarbledGzipFailsTheRead) {
    std::string garbled = Zlib(Text, 15 + 16);
    for (std::size_t i = 20; i < garbled.size(); i += 97)
        garbled[i] = static_cast<char>(garbled[i] ^ 0x5a);
    ExpectUndecodable("gzip", garbled);
}

// The connection ends halfway through a compressed body: the read fails, the
// reader is not handed what decoded so far as the whole body.
TEST_F(WinInetEncodingTest, GzipCutShortFailsTheRead) {
    const std::string whole = Zlib(Text, 15 + 16);
    const std::string head = Head("gzip", whole.size());
    RawServer server([&](const std::string&) { return head + whole.substr(0, whole.size() / 2); });
    HINTERNET r = Request(Open(), server.Port(), "/short.html");
    ASSERT_TRUE(Send(r).dwResult);
    std::string body;
    EXPECT_EQ(ReadUntilEnd(r, body), ERROR_INTERNET_CONNECTION_ABORTED);
    EXPECT_LT(body.size(), Text.size());
    InternetCloseHandle(r);
}

TEST_F(WinInetEncodingTest, BodyThatIsNotBrotliFailsTheRead) {
    ExpectUndecodable("br", std::string(3000, 'x'));
}

} // namespace
} // namespace larkspool
