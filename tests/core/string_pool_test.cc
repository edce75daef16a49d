#include "core/string_pool.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

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
