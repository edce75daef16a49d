#include <gtest/gtest.h>

#include <string>

#include "core/heap_string.h"
#include "core/pooled_string.h"

namespace {

TEST(PooledString, EqualTextsShareOneCopyAndEndAtTheirFirstNul) {
  CPooledString empty, alsoEmpty("");
  EXPECT_EQ(empty.GetText(), nullptr);
  EXPECT_TRUE(empty == alsoEmpty);
  CPooledString a("text"), b(std::string_view("text\0tail", 9));
  EXPECT_TRUE(a == b);
  EXPECT_EQ(a.GetText(), b.GetText());
  EXPECT_FALSE(a == CPooledString("TEXT"));
  EXPECT_EQ(b.View(), "text");
}

TEST(HeapString, GrowsByAppendingAndEndsAtTheFirstNul) {
  CHeapString withNul(std::string_view("ab\0cd", 5));
  EXPECT_EQ(withNul.View(), "ab");
  CHeapString grow;
  for (int i = 0; i < 1000; ++i) grow.Append("xy");
  grow.Append(std::string_view("z\0w", 3));
  EXPECT_EQ(grow.GetLength(), 2001);
  EXPECT_EQ(grow.GetText()[2001], '\0');
  CHeapString copy = grow;
  CHeapString moved(std::move(grow));
  EXPECT_EQ(moved.View(), copy.View());
  EXPECT_TRUE(grow.IsEmpty());  // NOLINT: a moved-from string is empty
  copy = std::string_view("");
  EXPECT_EQ(copy.GetText(), nullptr);
}

}  // namespace
