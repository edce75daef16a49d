#include "inspection/inspected_sites.h"

#include <gtest/gtest.h>

namespace {

TEST(InspectedSites, DomainsCoverSubdomainsOnlyAndAddressesThemselves) {
  const CChosenSites sites({"example.com", "10.0.0.1", "2001:db8::1"});
  for (const std::string_view covered :
       {"example.com", "WWW.Example.com.", "a.b.example.com", "10.0.0.1", "[2001:DB8::1]"})
    EXPECT_TRUE(sites.Covers(covered)) << covered;
  for (const std::string_view other :
       {"notexample.com", "example.com.evil", "com", "110.0.0.1", "x.10.0.0.1", "", "example.co"})
    EXPECT_FALSE(sites.Covers(other)) << other;

  CPassThroughHosts passed;
  passed.Remember("Pinned.Example.com.");
  EXPECT_TRUE(passed.Holds("pinned.example.com"));
  EXPECT_FALSE(passed.Holds("example.com"));
}

}  // namespace
