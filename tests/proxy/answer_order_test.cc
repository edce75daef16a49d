#include "proxy/answer_order.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

// Stand-ins for two server connections; only their addresses are compared.
const auto* const kServerA = reinterpret_cast<const CUpstreamState*>(0x10);
const auto* const kServerB = reinterpret_cast<const CUpstreamState*>(0x20);

TEST(CAnswerOrder, AnAnswerWaitsForEveryAnswerOwedBeforeIt) {
  CAnswerOrder order;
  order.Expect({kServerA, RequestKind::kOther, "http://a/1", false});
  order.Expect({kServerB, RequestKind::kHead, "http://b/1", true});
  order.Expect({kServerA, RequestKind::kOther, "http://a/2", false});

  // Each server's first owed answer is the one for its own earliest request.
  EXPECT_EQ(order.FirstOwedBy(kServerA)->url, "http://a/1");
  EXPECT_EQ(order.FirstOwedBy(kServerB)->kind, RequestKind::kHead);

  std::atomic<bool> bHasTurn{false};
  std::thread b([&] {
    EXPECT_TRUE(order.WaitForTurn(kServerB));
    bHasTurn = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(bHasTurn);
  // Only the answer at the front can finish.
  order.Finish(kServerB);
  EXPECT_EQ(order.GetOwedCount(), 3u);
  order.Finish(kServerA);
  b.join();
  EXPECT_TRUE(bHasTurn);
  order.Finish(kServerB);
  EXPECT_EQ(order.FirstOwedBy(kServerA)->url, "http://a/2");
  EXPECT_FALSE(order.FirstOwedBy(kServerB));
}

TEST(CAnswerOrder, ClosingWakesEveryWaitWithFalse) {
  CAnswerOrder order;
  order.Expect({kServerA, RequestKind::kOther, "", false});
  std::thread turn([&] { EXPECT_FALSE(order.WaitForTurn(kServerB)); });
  std::thread all([&] { EXPECT_FALSE(order.WaitUntilAllAnswered()); });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  order.Close();
  turn.join();
  all.join();
  EXPECT_TRUE(order.IsClosed());
  EXPECT_FALSE(order.FirstOwedBy(kServerA));
}

}  // namespace
