// Tests of the panel's request reader.
#include "app/panel/http_request.h"

#include <gtest/gtest.h>

namespace {

RequestReadResult Parse(std::string_view text, CHttpRequest& request) {
  std::size_t bodyStart = 0, bodyLength = 0;
  return ParseRequestHead(text, request, bodyStart, bodyLength);
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
