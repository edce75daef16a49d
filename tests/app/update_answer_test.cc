#include "app/update_answer.h"

#include <gtest/gtest.h>

#include <climits>

namespace {

using Tokens = std::vector<std::string>;

TEST(UpdateAnswer, TokensSplitOutsideQuotes) {
  EXPECT_EQ(SplitAnswerTokens("1.0.0.1;1;Spring;more"), (Tokens{"1.0.0.1", "1", "Spring", "more"}));
  EXPECT_EQ(SplitAnswerTokens(";;1.0.0.1;;1;;"), (Tokens{"1.0.0.1", "1"}));
  EXPECT_EQ(SplitAnswerTokens("\"1.0.0.3\";1"), (Tokens{"1.0.0.3", "1"}));
  EXPECT_EQ(SplitAnswerTokens("a;\"b;c\";d"), (Tokens{"a", "b;c", "d"}));
  // Only the ends lose their quotes; an unclosed quote runs to the end.
  EXPECT_EQ(SplitAnswerTokens("x\"y\"z;\"open;rest"), (Tokens{"x\"y\"z", "open;rest"}));
  // A quoted empty token still takes its position.
  EXPECT_EQ(SplitAnswerTokens("1.0.0.1;\"\";label"), (Tokens{"1.0.0.1", "", "label"}));
  EXPECT_TRUE(SplitAnswerTokens("").empty());
  EXPECT_TRUE(SplitAnswerTokens(";;;").empty());
}

TEST(UpdateAnswer, NumbersAreScannedLikeTheDottedPattern) {
  int numbers[4] = {-1, -1, -1, -1};
  EXPECT_EQ(ScanDottedNumbers("1.2", numbers), 2);
  EXPECT_EQ(numbers[0], 1);
  EXPECT_EQ(numbers[1], 2);
  EXPECT_EQ(numbers[2], -1);
  EXPECT_EQ(ScanDottedNumbers("  +7.-3.0x.9", numbers), 3);
  EXPECT_EQ(numbers[0], 7);
  EXPECT_EQ(numbers[1], -3);
  EXPECT_EQ(numbers[2], 0);
  EXPECT_EQ(ScanDottedNumbers("abc", numbers), 0);
  EXPECT_EQ(ScanDottedNumbers("", numbers), 0);
  EXPECT_EQ(ScanDottedNumbers(".1", numbers), 0);
  EXPECT_EQ(ScanDottedNumbers("1 .2", numbers), 1);
  EXPECT_EQ(ScanDottedNumbers("99999999999999999999.-99999999999999999999", numbers), 2);
  EXPECT_EQ(numbers[0], INT_MAX);
  EXPECT_EQ(numbers[1], INT_MIN);
}

}  // namespace
