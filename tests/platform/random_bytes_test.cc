// Tests of the random token source.
#include "platform/random_bytes.h"

#include <gtest/gtest.h>

namespace {

TEST(RandomBytesTest, TokensAreHexOfTheAskedLengthAndDiffer) {
  const std::string first = MakeRandomHexToken(16);
  const std::string second = MakeRandomHexToken(16);
  ASSERT_EQ(first.size(), 32u);
  EXPECT_EQ(first.find_first_not_of("0123456789abcdef"), std::string::npos);
  EXPECT_NE(first, second);
  EXPECT_EQ(MakeRandomHexToken(0), "");
}

}  // namespace
