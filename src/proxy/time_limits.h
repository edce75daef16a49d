// How long the proxy waits for its peers: every wait has an end.
#pragma once

#include <chrono>

struct CTimeLimits {
  // A request header block, from its first byte to its empty line.
  std::chrono::milliseconds headerBlock{30'000};
  // A kept-alive browser connection between requests, and a request body or an
  // answer to the browser that makes no progress.
  std::chrono::milliseconds browserIdle{120'000};
  // A server connection between answers, or one whose answer makes no progress.
  std::chrono::milliseconds serverIdle{300'000};
  // A tunnel (CONNECT or upgrade) with no byte in either direction.
  std::chrono::milliseconds tunnelIdle{1'800'000};
};

// The limits in force: the figures above, or those that the environment variable
// LUMBRA_TIME_LIMITS_MS gives as "header,browser,server,tunnel" in milliseconds,
// so that tests can shorten them. Read once.
const CTimeLimits& GetTimeLimits();

// Milliseconds on the steady clock, for stamps that threads share atomically.
long long SteadyMilliseconds();
