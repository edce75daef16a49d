// Moving bytes from one socket to another through a kernel pipe, so that they
// never pass through the program's own memory.
#pragma once

#include <cstddef>

// One kernel pipe between two non-blocking sockets, held while a burst of bytes
// flows and closed after it, so that an idle tunnel holds none. It pays off for
// bursts of many kilobytes, not for a few bytes.
class CSplicePipe {
 public:
  // Opens a pipe unless too many are open already (see IsOpen).
  CSplicePipe();
  ~CSplicePipe();
  CSplicePipe(const CSplicePipe&) = delete;
  CSplicePipe& operator=(const CSplicePipe&) = delete;

  // False when no pipe could be had: the caller moves the bytes itself.
  bool IsOpen() const { return m_read >= 0; }

  // Bytes one Fill takes at most: what an empty pipe holds.
  static constexpr std::size_t kCapacity = 1 << 16;
  enum class Fill { kTaken, kNothingYet, kClosed };
  // Takes into the empty pipe what `from` holds now, without waiting; `taken` gets
  // the count. kClosed when the source has ended or failed.
  Fill FillFrom(int from, std::size_t& taken);
  // Passes on to `to` what it takes now of the bytes held; false when `to` failed.
  bool DrainTo(int to);
  bool IsEmpty() const { return m_held == 0; }
  std::size_t GetHeld() const { return m_held; }

 private:
  int m_read = -1;
  int m_write = -1;
  std::size_t m_held = 0;
};

// For blocking sockets: what one call of SpliceAvailable came to.
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
