#include "proxy/host_cache.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <atomic>
#include <string>

namespace {

std::atomic<int> g_lookups{0};

in_addr Address(const char* dotted) {
  in_addr address{};
  inet_pton(AF_INET, dotted, &address);
  return address;
}

std::optional<in_addr> CountingLookup(const std::string& host) {
  ++g_lookups;
  if (host.find("fail") != std::string::npos) return std::nullopt;
  return Address("10.1.2.3");
}

class HostCacheTest : public ::testing::Test {
 protected:
  void SetUp() override { g_lookups = 0; }
  CHostCache cache;
};

TEST_F(HostCacheTest, NamesAreLookedUpOnceAndKeyedByteForByte) {
  ASSERT_TRUE(ResolveHost(cache, "example.com", CountingLookup));
  ASSERT_TRUE(ResolveHost(cache, "example.com", CountingLookup));
  EXPECT_EQ(g_lookups, 1);
  ASSERT_TRUE(ResolveHost(cache, "Example.com", CountingLookup));
  EXPECT_EQ(g_lookups, 2);
  EXPECT_TRUE(cache.Find("Example.com"));
  EXPECT_EQ(ResolveHost(cache, "example.com", CountingLookup)->s_addr, Address("10.1.2.3").s_addr);
}

TEST_F(HostCacheTest, FailingHostIsNeverCached) {
  EXPECT_FALSE(ResolveHost(cache, "fail.example", CountingLookup));
  EXPECT_FALSE(ResolveHost(cache, "fail.example", CountingLookup));
  EXPECT_EQ(g_lookups, 2);
  EXPECT_FALSE(cache.Find("fail.example"));
  EXPECT_FALSE(ResolveHost(cache, "", CountingLookup));
  EXPECT_FALSE(ResolveHost(cache, std::string("10.0.0.1\0x", 10), CountingLookup));
  EXPECT_EQ(g_lookups, 2);
}

TEST_F(HostCacheTest, AddKeepsExistingEntriesAndStopsAtTheBound) {
  cache.Add("h", Address("10.0.0.1"));
  cache.Add("h", Address("10.0.0.2"));
  EXPECT_EQ(cache.Find("h")->s_addr, Address("10.0.0.1").s_addr);
  for (std::size_t i = 0; i < CHostCache::kMaxEntries + 10; ++i)
    cache.Add("host" + std::to_string(i), Address("10.0.0.3"));
  EXPECT_TRUE(cache.Find("h"));
  EXPECT_FALSE(cache.Find("host" + std::to_string(CHostCache::kMaxEntries + 5)));
  // Past the bound a host still resolves, it is only not remembered.
  EXPECT_TRUE(ResolveHost(cache, "late.example", CountingLookup));
}

}  // namespace
