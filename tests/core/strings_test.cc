#include <gtest/gtest.h>

#include "core/heap_string.h"
#include "core/pooled_string.h"

namespace {

TEST(PooledString, EmptyIsNoPointerAndComparisonsWithEmptyAreUnequal) {
  CPooledString empty, alsoEmpty("");
  EXPECT_EQ(empty.GetText(), nullptr);
  EXPECT_EQ(alsoEmpty.GetText(), nullptr);
  EXPECT_TRUE(empty == alsoEmpty);
  EXPECT_NE(empty.Compare(""), 0);
  EXPECT_NE(empty.CompareNoCase(""), 0);
  EXPECT_NE(empty.CompareNoCase(alsoEmpty), 0);
  CPooledString abc("abc");
  EXPECT_NE(abc.Compare(nullptr), 0);
  EXPECT_NE(abc.Compare(""), 0);
  EXPECT_EQ(abc.Compare("abc"), 0);
  EXPECT_NE(abc.Compare("ABC"), 0);
  EXPECT_EQ(abc.CompareNoCase("ABC"), 0);
  EXPECT_EQ(abc.GetAt(5), 0);
  EXPECT_EQ(abc.GetAt(-1), 0);
  EXPECT_EQ(abc.GetAt(2), 'c');
}

TEST(PooledString, IdentityEqualityAndSharedStorage) {
  CPooledString a("text"), b(std::string_view("text"));
  EXPECT_TRUE(a == b);
  EXPECT_EQ(a.GetText(), b.GetText());
  EXPECT_FALSE(a == CPooledString("TEXT"));
  CPooledString copy = a;
  EXPECT_EQ(copy.GetText(), a.GetText());
}

TEST(PooledString, SubstringsFindAndCase) {
  CPooledString abc("abc");
  EXPECT_TRUE(abc.Right(5).IsEmpty());
  EXPECT_EQ(abc.Left(5).View(), "abc");
  EXPECT_TRUE(abc.Left(0).IsEmpty());
  EXPECT_EQ(abc.Mid(1, 10).View(), "bc");
  EXPECT_TRUE(abc.Mid(-1, 2).IsEmpty());
  EXPECT_TRUE(abc.Mid(3, 2).IsEmpty());
  EXPECT_EQ(abc.Right(2).View(), "bc");
  EXPECT_EQ(abc.Find("c", 0), 2);
  EXPECT_EQ(abc.Find("c", 3), -1);
  EXPECT_EQ(abc.Find(nullptr, 0), -1);
  EXPECT_EQ(abc.Find("x", 0), -1);
  EXPECT_EQ(CPooledString("Hello World").FindNoCase("WORLD", 0), 6);
  EXPECT_EQ(CPooledString("MiXeD").MakeLower().View(), "mixed");
  CPooledString joined("ab");
  joined.Append("cd").Append('e');
  EXPECT_EQ(joined.View(), "abcde");
  EXPECT_EQ(joined.GetLength(), 5);
  EXPECT_EQ((abc + "def").View(), "abcdef");
  joined.Append("");
  EXPECT_EQ(joined.View(), "abcde");
}

TEST(HeapString, OwnsGrowsAndTrims) {
  CHeapString empty("");
  EXPECT_EQ(empty.GetText(), nullptr);
  EXPECT_NE(empty.Compare(""), 0);
  CHeapString partial("abcdef", 3);
  EXPECT_EQ(partial.View(), "abc");
  CHeapString withNul("ab\0cd", 5);
  EXPECT_EQ(withNul.View(), "ab");

  CHeapString text("a b  ");
  text.TrimRight(' ');
  EXPECT_EQ(text.View(), "a b");
  CHeapString leading("   x y");
  leading.TrimLeft(' ');
  EXPECT_EQ(leading.View(), "x y");
  CHeapString blanks("   ");
  blanks.TrimLeft(' ');
  EXPECT_TRUE(blanks.IsEmpty());
  EXPECT_EQ(blanks.GetText(), nullptr);

  CHeapString grow;
  for (int i = 0; i < 1000; ++i) grow.Append("xy");
  EXPECT_EQ(grow.GetLength(), 2000);
  EXPECT_EQ(grow.GetText()[2000], '\0');
  grow.KeepLeft(3);
  EXPECT_EQ(grow.View(), "xyx");
  grow.DropLeft(1);
  EXPECT_EQ(grow.View(), "yx");
  grow.DropLeft(5);
  EXPECT_TRUE(grow.IsEmpty());

  CHeapString abc("abc");
  EXPECT_TRUE(abc.Right(5).IsEmpty());
  EXPECT_EQ(abc.Left(5).View(), "abc");
  EXPECT_EQ(abc.Mid(1, 10).View(), "bc");
  EXPECT_EQ(abc.Find("c", 3), -1);
  CHeapString upper("AbC");
  upper.MakeLower();
  EXPECT_EQ(upper.View(), "abc");
  CHeapString moved(std::move(upper));
  EXPECT_EQ(moved.View(), "abc");
  EXPECT_TRUE(upper.IsEmpty());
}

}  // namespace
