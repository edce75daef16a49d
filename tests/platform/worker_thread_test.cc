#include "platform/worker_thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <iterator>
#include <thread>

namespace {

using namespace std::chrono_literals;

long CountThreads() {
  const std::filesystem::directory_iterator tasks("/proc/self/task");
  return std::distance(begin(tasks), end(tasks));
}

bool WaitFor(const std::function<bool()>& condition) {
  for (int i = 0; i < 500 && !condition(); ++i) std::this_thread::sleep_for(10ms);
  return condition();
}

struct CGate {
  std::atomic<int> running{0};
  std::atomic<int> done{0};
  std::atomic<bool> open{false};
};

void* WaitAtGate(void* context) {
  auto* gate = static_cast<CGate*>(context);
  ++gate->running;
  while (!gate->open) std::this_thread::sleep_for(1ms);
  --gate->running;
  ++gate->done;
  return nullptr;
}

TEST(WorkerPool, GrowsOnDemandReusesParkedThreadsAndTrimsThem) {
  const long before = CountThreads();
  CWorkerPool pool(300ms, 2);
  CGate gate;
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(pool.Run(WaitAtGate, &gate));
  ASSERT_TRUE(WaitFor([&] { return gate.running == 3; }));
  EXPECT_EQ(CountThreads(), before + 3) << "pieces that wait together each need a thread";
  gate.open = true;
  // Two stay parked; the third ends at once.
  ASSERT_TRUE(WaitFor([&] { return gate.done == 3 && CountThreads() == before + 2; }));

  CGate next;
  next.open = true;
  for (int i = 0; i < 2; ++i) ASSERT_TRUE(pool.Run(WaitAtGate, &next));
  ASSERT_TRUE(WaitFor([&] { return next.done == 2; }));
  EXPECT_EQ(CountThreads(), before + 2) << "the parked threads took the work";
  EXPECT_TRUE(WaitFor([&] { return CountThreads() == before; })) << "idle threads end";
}

TEST(WorkerPool, ParkedThreadsEndWithThePoolAndRunningOnesFinishTheirWork) {
  const long before = CountThreads();
  CGate parked, running;
  parked.open = true;
  {
    CWorkerPool pool(60s, 4);
    ASSERT_TRUE(pool.Run(WaitAtGate, &parked));
    ASSERT_TRUE(pool.Run(WaitAtGate, &running));
    ASSERT_TRUE(WaitFor([&] { return parked.done == 1 && running.running == 1; }));
  }
  EXPECT_TRUE(WaitFor([&] { return CountThreads() == before + 1; }));
  running.open = true;
  EXPECT_TRUE(WaitFor([&] { return running.done == 1 && CountThreads() == before; }));
}

}  // namespace
