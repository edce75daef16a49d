// The number of relay workers running in the process.
#include "proxy/live_relay_count.h"

std::atomic<std::int32_t> g_liveRelayCount{0};
