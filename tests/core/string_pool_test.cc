#include "core/string_pool.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

// Texts whose hashes share the low bits of a 64-slot table.
std::pair<std::string, std::string> CollidingPair() {
  std::string first = "a";
  for (int i = 0; i < 100000; ++i) {
    std::string candidate = "k" + std::to_string(i);
    if ((CStringPool::Hash(candidate) & 63) == (CStringPool::Hash(first) & 63)) return {first, candidate};
  }
  return {};
}

TEST(StringPool, InternsOnceCaseSensitiveAndMissingTexts) {
  CStringPool pool;
  const char* first = pool.Intern("abc");
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(pool.Intern("abc"), first);
  EXPECT_EQ(pool.Intern(std::string("ab") + "c"), first);
  EXPECT_NE(pool.Intern("ABC"), first);
  EXPECT_EQ(pool.GetCount(), 2u);
  EXPECT_EQ(pool.Intern(static_cast<const char*>(nullptr)), nullptr);
  EXPECT_EQ(CStringPool::StoredLength(first), 3u);
}

TEST(StringPool, GrowsAtHalfFullAndKeepsEveryText) {
  CStringPool pool;
  EXPECT_EQ(pool.GetCapacity(), 0u);
  std::vector<const char*> stored;
  for (int i = 0; i < 32; ++i) stored.push_back(pool.Intern("text" + std::to_string(i)));
  EXPECT_EQ(pool.GetCapacity(), 64u);
  EXPECT_EQ(pool.GetThreshold(), 32u);
  stored.push_back(pool.Intern("text32"));
  EXPECT_EQ(pool.GetCapacity(), 128u);
  EXPECT_EQ(pool.GetThreshold(), 64u);
  for (int i = 0; i <= 32; ++i) EXPECT_EQ(pool.Intern("text" + std::to_string(i)), stored[i]);
}

TEST(StringPool, CollisionsProbeDownwardAndWrap) {
  CStringPool pool;
  auto [first, second] = CollidingPair();
  ASSERT_FALSE(second.empty());
  pool.Intern(first);
  pool.Intern(second);
  std::ptrdiff_t home = CStringPool::Hash(first) & 63;
  EXPECT_EQ(pool.GetSlotOf(first), home);
  EXPECT_EQ(pool.GetSlotOf(second), (home + 63) % 64);

  // A text whose home is slot 0 pushes its colliding partner to the last slot.
  CStringPool wrapping;
  std::string zero;
  for (int i = 0; zero.empty(); ++i)
    if ((CStringPool::Hash("z" + std::to_string(i)) & 63) == 0) zero = "z" + std::to_string(i);
  std::string partner;
  for (int i = 0; partner.empty(); ++i)
    if ((CStringPool::Hash("p" + std::to_string(i)) & 63) == 0) partner = "p" + std::to_string(i);
  wrapping.Intern(zero);
  wrapping.Intern(partner);
  EXPECT_EQ(wrapping.GetSlotOf(zero), 0);
  EXPECT_EQ(wrapping.GetSlotOf(partner), 63);
}

// Two threads intern overlapping sets of texts while the table grows many times:
// no text may be lost and each text must have exactly one stored copy.
TEST(StringPool, ConcurrentInterningKeepsOneCopyPerText) {
  CStringPool pool;
  constexpr int kTexts = 20000;
  std::vector<const char*> results[2];
  auto worker = [&](int which) {
    results[which].resize(kTexts);
    for (int i = 0; i < kTexts; ++i) {
      int n = which == 0 ? i : kTexts - 1 - i;
      results[which][n] = pool.Intern("url/" + std::to_string(n));
    }
  };
  std::thread a(worker, 0), b(worker, 1);
  a.join();
  b.join();
  std::set<const char*> distinct;
  for (int i = 0; i < kTexts; ++i) {
    ASSERT_EQ(results[0][i], results[1][i]) << i;
    ASSERT_STREQ(results[0][i], ("url/" + std::to_string(i)).c_str());
    distinct.insert(results[0][i]);
  }
  EXPECT_EQ(distinct.size(), static_cast<std::size_t>(kTexts));
  EXPECT_EQ(pool.GetCount(), static_cast<std::size_t>(kTexts));
}

}  // namespace
