// Tests of the panel's request reader.
#include "app/panel/http_request.h"

#include <gtest/gtest.h>

namespace {

RequestReadResult Parse(std::string_view text, CHttpRequest& request) {
  std::size_t bodyStart = 0, bodyLength = 0;
  return ParseRequestHead(text, request, bodyStart, bodyLength);
}

TEST(HttpRequestTest, ReadsOriginAndAbsoluteFormTargets) {
  CHttpRequest request;
  std::size_t bodyStart = 0, bodyLength = 0;
  const std::string text =
      "POST /api/command?x=1 HTTP/1.1\r\nHost: 127.0.0.1:8010\r\n"
      "content-length: 8\r\nX-Lumbra-Token:  abc \r\n\r\n{\"id\":2}";
  ASSERT_EQ(ParseRequestHead(text, request, bodyStart, bodyLength), RequestReadResult::kComplete);
  EXPECT_EQ(request.method, "POST");
  EXPECT_EQ(request.path, "/api/command");
  EXPECT_TRUE(request.targetAuthority.empty());
  EXPECT_EQ(*request.FindHeader("host"), "127.0.0.1:8010");
  EXPECT_EQ(*request.FindHeader("X-LUMBRA-TOKEN"), "abc");
  EXPECT_EQ(request.FindHeader("Origin"), nullptr);
  EXPECT_EQ(text.substr(bodyStart, bodyLength), "{\"id\":2}");

  CHttpRequest proxied;
  ASSERT_EQ(Parse("GET http://localhost:8010 HTTP/1.1\nHost: localhost:8010\n\n", proxied),
            RequestReadResult::kComplete);
  EXPECT_EQ(proxied.path, "/");
  EXPECT_EQ(proxied.targetAuthority, "localhost:8010");
}

TEST(HttpRequestTest, RefusesMalformedOrUnboundedRequests) {
  for (const char* text : {
           "GET / HTTP/1.1\r\nHost: a\r\n",                 // no end of the header block
           "GET /\r\n\r\n",                                 // no version
           "GET nothing HTTP/1.1\r\n\r\n",                  // not a path
           "G(T / HTTP/1.1\r\n\r\n",                        // not a method
           "GET / HTTP/1.1\r\nHost: a\r\n folded\r\n\r\n",  // obsolete folding
           "GET / HTTP/1.1\r\nNo colon\r\n\r\n",            // not a header
           "POST / HTTP/1.1\r\nContent-Length: 1\r\nContent-Length: 2\r\n\r\n",
           "POST / HTTP/1.1\r\nContent-Length: -1\r\n\r\n",
           "POST / HTTP/1.1\r\nContent-Length: 1 2\r\n\r\n",
           "POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n",
       }) {
    CHttpRequest request;
    EXPECT_EQ(Parse(text, request), RequestReadResult::kMalformed) << text;
  }
  CHttpRequest large;
  EXPECT_EQ(Parse("POST / HTTP/1.1\r\nContent-Length: 65537\r\n\r\n", large),
            RequestReadResult::kBodyTooLarge);
  CHttpRequest huge;
  EXPECT_EQ(Parse("POST / HTTP/1.1\r\nContent-Length: 99999999999999999999999999\r\n\r\n", huge),
            RequestReadResult::kBodyTooLarge);
  CHttpRequest limit;
  EXPECT_EQ(Parse("POST / HTTP/1.1\r\nContent-Length: 65536\r\n\r\n", limit),
            RequestReadResult::kComplete);
}

}  // namespace
