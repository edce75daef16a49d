#include "proxy/image_chunk.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace std::string_literals;

bool IsImage(const std::string& chunk) { return IsImageChunk(chunk.c_str(), chunk.size()); }

TEST(IsImageChunk, RecognisesImageContentTypesInAnyCase) {
  EXPECT_TRUE(IsImage("HTTP/1.1 200 OK\r\nContent-Type: image/gif\r\n\r\nGIF89a"));
  EXPECT_TRUE(IsImage("HTTP/1.1 200 OK\r\ncontent-type:IMAGE/PNG\r\n\r\n"));
  EXPECT_TRUE(IsImage("CONTENT-TYPE: :  Image/Jpeg"));  // colons and blanks skipped, end of text
  // The search is not limited to the header block.
  EXPECT_TRUE(IsImage("HTTP/1.1 200 OK\r\n\r\n<p>content-type: image/webp</p>"));
}

TEST(IsImageChunk, RejectsOtherTypesEmptyValuesAndTextAfterANul) {
  EXPECT_FALSE(IsImage("HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n\r\n"));
  EXPECT_FALSE(IsImage("HTTP/1.1 200 OK\r\nContent-Type: image/\r\n\r\n"));
  EXPECT_FALSE(IsImage("HTTP/1.1 200 OK\r\nContent-Type: \r\n\r\n"));
  EXPECT_FALSE(IsImage("HTTP/1.1 200 OK\r\n\r\nno header here"));
  EXPECT_FALSE(IsImage("HTTP/1.1 200 OK\r\n\0Content-Type: image/gif\r\n"s));
  EXPECT_FALSE(IsImageChunk(nullptr, 0));
}

TEST(IsImageChunk, FindsTheHeaderAnywhereAmongOtherHyphens) {
  EXPECT_TRUE(IsImage("content-type: image/gif"));  // at the very start
  EXPECT_TRUE(IsImage("x-a-b: c\r\n--content-Type: image/x-icon"));
  EXPECT_TRUE(IsImage("Content-Content-Type: image/png"));
  EXPECT_FALSE(IsImage("ntent-type: image/png"));  // cut at the start
  EXPECT_FALSE(IsImage("content-typ"));            // cut at the end
  EXPECT_FALSE(IsImage("content_type: image/png"));
  std::string big(16384, '-');
  big.replace(16000, 23, "content-type: image/png");
  EXPECT_TRUE(IsImage(big));
}

}  // namespace
