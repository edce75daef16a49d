#include "blocklists/block_list_set.h"

#include <gtest/gtest.h>

#include <string>

#include "blocklists/domain_set.h"

namespace {

TEST(DomainSet, StoresLowerCaseWithoutTrailingDotAndGrows) {
  CDomainSet set;
  EXPECT_TRUE(set.Add("Ads.Example.COM."));
  EXPECT_FALSE(set.Add("ads.example.com"));
  EXPECT_FALSE(set.Add(""));
  EXPECT_FALSE(set.Add(std::string(254, 'a')));
  EXPECT_TRUE(set.Contains("ADS.example.com."));
  EXPECT_FALSE(set.Contains("ads.example.co"));
  // Enough names to grow the table many times, short and long ones (up to the
  // longest a DNS name can be), all still found afterwards, in any case.
  const auto nameOf = [](int i) {
    return std::string(static_cast<std::size_t>(i % 240), 'x') + std::to_string(i) + ".e";
  };
  for (int i = 0; i < 5000; ++i) ASSERT_TRUE(set.Add(nameOf(i))) << i;
  set.ShrinkToFit();
  EXPECT_EQ(set.GetSize(), 5001u);
  for (int i = 0; i < 5000; ++i) {
    std::string name = nameOf(i);
    for (char& c : name) c = c == 'x' ? 'X' : c;
    ASSERT_TRUE(set.Contains(name)) << name;
    name.pop_back();
    ASSERT_FALSE(set.Contains(name)) << name;
  }
  EXPECT_FALSE(set.Contains(nameOf(5000)));
}

TEST(BlockListSet, BlocksANameAndItsSubdomainsOnly) {
  CBlockListSet lists;
  lists.AddListText("0.0.0.0 ads.example.com\n||tracker.example.net^\nplain.example.org\n");
  for (const std::string_view blocked :
       {"ads.example.com", "x.ads.example.com", "a.b.c.ads.example.com", "ADS.Example.Com",
        "ads.example.com.", "tracker.example.net", "cdn.tracker.example.net", "plain.example.org"})
    EXPECT_TRUE(lists.IsBlocked(blocked)) << blocked;
  for (const std::string_view allowed :
       {"example.com", "com", "notads.example.com", "ads.example.com.evil", "ads-example.com",
        "s.example.com", "ads.example.co", "", ".", "::1", "2001:db8::1", "1.2.3.4", "xample.org"})
    EXPECT_FALSE(lists.IsBlocked(allowed)) << allowed;
}

TEST(BlockListSet, ExceptionsOnTheHostOrAParentWin) {
  CBlockListSet lists;
  lists.AddListText(
      "||example.com^\n||ads.partner.example^\n@@||safe.example.com^\n@@||partner.example^\n");
  EXPECT_TRUE(lists.IsBlocked("www.example.com"));
  EXPECT_FALSE(lists.IsBlocked("safe.example.com"));
  EXPECT_FALSE(lists.IsBlocked("img.SAFE.example.com."));
  // An exception for a parent domain lifts a block on a subdomain too.
  EXPECT_FALSE(lists.IsBlocked("ads.partner.example"));
  // An exception alone blocks nothing.
  EXPECT_FALSE(lists.IsBlocked("partner.example"));
}

TEST(BlockListSet, CountsWhatEachListGaveAcrossLineEndings) {
  CBlockListSet lists;
  const BlockListCounts hosts = lists.AddListText(
      "\xEF\xBB\xBF# hosts\r\n127.0.0.1 localhost\r\n0.0.0.0 a.example b.example\r\n\r\n"
      "0.0.0.0 a.example\rc.example");
  EXPECT_EQ(hosts.domains, 4u);
  EXPECT_EQ(hosts.exceptions, 0u);
  EXPECT_EQ(hosts.skipped, 2u);
  const BlockListCounts adblock =
      lists.AddListText("[Adblock Plus 2.0]\n! comment\n||d.example^\n@@||e.example^\n##.ad");
  EXPECT_EQ(adblock.domains, 1u);
  EXPECT_EQ(adblock.exceptions, 1u);
  EXPECT_EQ(adblock.skipped, 3u);
  EXPECT_EQ(lists.GetDomainCount(), 4u);
  EXPECT_EQ(lists.GetExceptionCount(), 1u);
  EXPECT_TRUE(lists.IsBlocked("c.example"));
}

}  // namespace
