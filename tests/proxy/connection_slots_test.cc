#include "proxy/connection_slots.h"

#include <gtest/gtest.h>

#include <chrono>

namespace {

using namespace std::chrono_literals;

TEST(ConnectionSlots, OneSlotPerTwoDescriptorsBeyondTheReserveAndFreedOnesReused) {
  CConnectionSlots slots;
  slots.SetCapacityFor(CConnectionSlots::kReservedDescriptors + 40);
  for (int i = 0; i < 20; ++i) {
    ASSERT_TRUE(slots.WaitForFree(0ms)) << i;
    slots.Take();
  }
  EXPECT_FALSE(slots.WaitForFree(10ms));
  slots.Give();
  EXPECT_TRUE(slots.WaitForFree(0ms));
}

}  // namespace
