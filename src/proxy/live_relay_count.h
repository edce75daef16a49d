// The number of relay workers running in the process.
#pragma once

#include <atomic>
#include <cstdint>

// Relay workers whose thread has been or is about to be started and has not yet
// ended: 2 per browser connection, 1 per further server it reaches.
extern std::atomic<std::int32_t> g_liveRelayCount;
