#include "proxy/head_rewrite.h"

#include <gtest/gtest.h>

namespace {

TEST(HeadRewrite, RequestsAcceptOnlyTheDecodableCodings) {
  EXPECT_EQ(WithAcceptEncoding("GET /a HTTP/1.1\r\nHost: x\r\n"
                               "accept-encoding:               , br, zstd, dcb\r\n"
                               "Available-Dictionary: :abc=:\r\n"
                               "                    \r\nAccept: */*\r\n\r\n",
                               "gzip, deflate, br, zstd"),
            "GET /a HTTP/1.1\r\nHost: x\r\nAccept: */*\r\n"
            "Accept-Encoding: gzip, deflate, br, zstd\r\n\r\n");
  // A head with bare line ends keeps them; the new line is CRLF.
  EXPECT_EQ(WithAcceptEncoding("GET / HTTP/1.0\nHost: x\n\n", "gzip"),
            "GET / HTTP/1.0\nHost: x\nAccept-Encoding: gzip\r\n\r\n");
}

TEST(HeadRewrite, DecodedAnswersLoseTheirCodingAndLengthAndGetNewFraming) {
  const std::string head =
      "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Encoding: gzip\r\n"
      "Content-Length: 1234\r\nETag: \"v1\"\r\nConnection: keep-alive\r\n\r\n";
  EXPECT_EQ(FindHeaderValue(head, "content-encoding"), "gzip");
  EXPECT_EQ(FindHeaderValue(head, "Content-Language"), "");
  EXPECT_EQ(HeadForDecodedBody(head, true),
            "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nConnection: keep-alive\r\n"
            "Transfer-Encoding: chunked\r\nETag: W/\"v1\"\r\n\r\n");
  EXPECT_EQ(HeadForDecodedBody("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n"
                               "Content-Encoding: br\r\nETag: W/\"v2\"\r\n"
                               "Connection: keep-alive\r\n\r\n",
                               false),
            "HTTP/1.1 200 OK\r\nConnection: close\r\nETag: W/\"v2\"\r\n\r\n");
}

}  // namespace
