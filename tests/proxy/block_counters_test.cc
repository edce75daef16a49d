#include "proxy/block_counters.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(BlockCounters, TotalsBySourceTopHostsAndABoundOnHostsKept) {
  CBlockCounters counters;
  for (int i = 0; i < 3; ++i) counters.Count(BlockedBy::kLists, "Ads.Example.");
  counters.Count(BlockedBy::kRules, "ads.example");
  counters.Count(BlockedBy::kRules, "b.example");
  counters.Count(BlockedBy::kRules, "a.example");
  counters.Count(BlockedBy::kRules, "");
  CBlockCountsView view = counters.GetView(2);
  EXPECT_EQ(view.byLists, 3u);
  EXPECT_EQ(view.byRules, 4u);
  ASSERT_EQ(view.topHosts.size(), 2u);
  EXPECT_EQ(view.topHosts[0].host, "ads.example");
  EXPECT_EQ(view.topHosts[0].count, 4u);
  EXPECT_EQ(view.topHosts[1].host, "a.example") << "ties go by name";

  // Made-up names beyond the bound still count in the totals, not one by one.
  for (std::size_t i = 0; i < CBlockCounters::kMaxHosts + 10; ++i)
    counters.Count(BlockedBy::kLists, "h" + std::to_string(i) + ".example");
  counters.Count(BlockedBy::kLists, "ads.example");
  view = counters.GetView(CBlockCounters::kMaxHosts + 100);
  EXPECT_EQ(view.byLists, 3u + CBlockCounters::kMaxHosts + 11);
  EXPECT_EQ(view.topHosts.size(), CBlockCounters::kMaxHosts);
  EXPECT_EQ(view.topHosts[0].count, 5u);
}

}  // namespace
