// Tests of the URL history: its bound, its order, and what it ignores.
#include "config/url_history.h"

#include <gtest/gtest.h>

#include <mutex>
#include <string>

namespace {

TEST(UrlHistory, KeepsTheLastTwentyOldestFirstDuplicatesIncludedEmptyOnesNot) {
  std::mutex lock;
  CUrlHistory history(lock);
  EXPECT_TRUE(history.Get(0).IsEmpty());
  for (int i = 1; i <= 24; ++i) history.Add("http://site/" + std::to_string(i));
  history.Add("http://site/24");
  history.Add("");
  history.Add(std::string_view("\0tail", 5));
  ASSERT_EQ(history.Count(), 20);
  for (int i = 0; i < 19; ++i)
    EXPECT_EQ(history.Get(i).View(), "http://site/" + std::to_string(i + 6)) << i;
  EXPECT_EQ(history.Get(19).View(), "http://site/24");
  EXPECT_TRUE(history.Get(-1).IsEmpty());
  EXPECT_TRUE(history.Get(20).IsEmpty());
}

}  // namespace
