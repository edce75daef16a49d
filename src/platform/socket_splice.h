// Moving bytes from one socket to another through a kernel pipe, so that they
// never pass through the program's own memory.
#pragma once

#include <cstddef>

enum class SpliceResult {
  kMoved,        // bytes went from one socket to the other
  kNothingYet,   // the source had no byte waiting
  kClosed,       // the source has closed (or was reset)
  kFailed,       // the destination took no more: it failed or its send limit passed
  kUnavailable,  // no pipe could be had: the caller moves the bytes itself
};

inline constexpr std::size_t kSpliceAll = ~std::size_t{0};

// Moves the bytes that `from` holds now (at most `limit` of them), without
// waiting for more, to `to`, which takes them as its send limit allows. `moved`
// gets the count. The pipe lives for the call only, so an idle tunnel holds none;
// it pays off for bursts of many kilobytes, not for a few bytes.
SpliceResult SpliceAvailable(int from, int to, std::size_t& moved, std::size_t limit = kSpliceAll);
