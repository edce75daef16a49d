#include "core/code_page.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// Restores the UTF-8 narrow set whatever a test leaves behind.
class CodePageTest : public ::testing::Test {
 protected:
  void TearDown() override { SetNarrowCharset("UTF-8"); }
};

TEST_F(CodePageTest, SingleByteSetConvertsBothWays) {
  ASSERT_TRUE(SetNarrowCharset("CP1252"));
  EXPECT_EQ(Utf8ToNarrow("caf\xC3\xA9 \xE2\x82\xAC 100"), "caf\xE9 \x80 100");
  EXPECT_EQ(NarrowToUtf8("caf\xE9 \x80 100"), "caf\xC3\xA9 \xE2\x82\xAC 100");
  // Each missing character becomes one "?", whatever its length in UTF-8; each
  // broken sequence becomes one "?" as well.
  EXPECT_EQ(Utf8ToNarrow("a\xE4\xB8\xAD"
                         "b\xF0\x9F\x98\x80"
                         "c\xCE\xB1"
                         "d"),
            "a?b?c?d");
  EXPECT_EQ(Utf8ToNarrow("a\xFF"
                         "b\xE4\xB8"
                         "c\xC3"),
            "a?b?c?");
  EXPECT_EQ(Utf8ToNarrow("\xED\xA0\x80"
                         "x"),
            "???x");  // a UTF-16 surrogate
  // Long texts convert completely across the conversion chunks.
  std::string utf8, narrow;
  for (int i = 0; i < 5000; ++i) {
    utf8 += "\xC3\xA9\xE2\x82\xAC";
    narrow += "\xE9\x80";
  }
  EXPECT_EQ(Utf8ToNarrow(utf8), narrow);
  EXPECT_EQ(NarrowToUtf8(narrow), utf8);
}

}  // namespace
