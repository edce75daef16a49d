// CUrlHistory: the last URLs that passed through the proxy, for instant filtering.
#pragma once

#include <mutex>
#include <string_view>
#include <vector>

#include "core/heap_string.h"

// At most kMaxEntries URLs, oldest first; duplicates are kept, empty URLs never
// enter. The lock belongs to the owner (the page recorder) and is taken by every
// operation for its whole length; no other lock is taken while it is held.
class CUrlHistory {
 public:
  static constexpr int kMaxEntries = 20;

  explicit CUrlHistory(std::mutex& lock) : m_lock(lock) {}
  CUrlHistory(const CUrlHistory&) = delete;
  CUrlHistory& operator=(const CUrlHistory&) = delete;

  int Count() const;
  // A copy of entry `index` (0 = oldest); empty when the index is out of range.
  CHeapString Get(int index) const;
  // Appends a copy of `url` (up to its first NUL), dropping the oldest entry when full.
  void Add(std::string_view url);

 private:
  std::mutex& m_lock;
  std::vector<CHeapString> m_entries;
};
