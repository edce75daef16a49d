#include "core/string_pool.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

TEST(StringPool, InternsOnceCaseSensitiveAndKeepsEveryTextAsTheTableGrows) {
  CStringPool pool;
  const char* first = pool.Intern("abc");
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(pool.Intern(std::string("ab") + "c"), first);
  EXPECT_NE(pool.Intern("ABC"), first);
  EXPECT_EQ(pool.Intern(static_cast<const char*>(nullptr)), nullptr);
  EXPECT_EQ(CStringPool::StoredLength(first), 3u);
  EXPECT_EQ(pool.Lookup("missing"), nullptr);
  std::vector<const char*> stored;
  for (int i = 0; i < 1000; ++i) stored.push_back(pool.Intern("text" + std::to_string(i)));
  for (int i = 0; i < 1000; ++i) EXPECT_EQ(pool.Lookup("text" + std::to_string(i)), stored[i]);
  EXPECT_EQ(pool.Lookup("abc"), first);
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
}

}  // namespace
