#include "proxy/image_chunk.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace std::string_literals;

bool IsImage(std::string chunk) {
  const CTrafficText text(chunk.data(), chunk.size());
  CHeaderValueReader headers;
  return IsImageChunk(text, headers);
}

TEST(IsImageChunk, ImageContentTypesInAnyCaseAnywhereBeforeANul) {
  EXPECT_TRUE(IsImage("HTTP/1.1 200 OK\r\nContent-Type: image/gif\r\n\r\nGIF89a"));
  EXPECT_TRUE(IsImage("CONTENT-TYPE: :  Image/Jpeg"));  // colons and blanks skipped, end of text
  // The search is not limited to the header block.
  EXPECT_TRUE(IsImage("HTTP/1.1 200 OK\r\n\r\n<p>content-type: image/webp</p>"));
  EXPECT_TRUE(IsImage("x-a-b: c\r\n--content-Type: image/x-icon"));
  EXPECT_FALSE(IsImage("HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n\r\n"));
  EXPECT_FALSE(IsImage("HTTP/1.1 200 OK\r\nContent-Type: image/\r\n\r\n"));
  EXPECT_FALSE(IsImage("HTTP/1.1 200 OK\r\n\0Content-Type: image/gif\r\n"s));
  EXPECT_FALSE(IsImage("content_type: image/png"));
  std::string big(16384, '-');
  big.replace(16000, 23, "content-type: image/png");
  EXPECT_TRUE(IsImage(big));
}

}  // namespace
