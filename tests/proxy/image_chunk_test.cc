#include "proxy/image_chunk.h"

#include <gtest/gtest.h>

#include <string>

namespace {

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
  EXPECT_FALSE(IsImage(std::string("HTTP/1.1 200 OK\r\n\0Content-Type: image/gif\r\n", 45)));
  EXPECT_FALSE(IsImageChunk(nullptr, 0));
}

}  // namespace
