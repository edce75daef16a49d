// The number of relay workers running in the process.
#pragma once

#include <atomic>
#include <cstdint>

// Relay workers whose thread has been or is about to be started and has not yet
// ended: 2 per browser connection, 1 per further server it reaches.
extern std::atomic<std::int32_t> g_liveRelayCount;

// Counts one relay for as long as it lives: a direction of traffic relayed on a
// thread that already counts as the relay of another.
class CLiveRelay {
 public:
  CLiveRelay() { g_liveRelayCount.fetch_add(1); }
  ~CLiveRelay() { g_liveRelayCount.fetch_sub(1); }
  CLiveRelay(const CLiveRelay&) = delete;
  CLiveRelay& operator=(const CLiveRelay&) = delete;
};
