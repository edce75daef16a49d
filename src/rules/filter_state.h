// CFilterState: what the filtering of one connection carries from piece to piece.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// How many elements each removal by attribute still had open when the last piece
// ended, and room for the values a rule must test as they were before its nested
// rules rewrote the text. Owned by one worker and used by one thread; every
// buffer is kept for the next piece, so filtering allocates nothing once warm.
class CFilterState {
 public:
  // A new message starts inside no element being removed.
  void StartMessage();
  // Makes room for `count` open-element depths; a state not yet used with this
  // many starts with no element open.
  void Fit(std::size_t count);
  std::int32_t& OpenDepth(int slot) { return m_openDepths[static_cast<std::size_t>(slot)]; }
  // A copy of `value` that stays unchanged while the rules nested below `level`
  // rewrite the text; valid until the next call for the same level.
  std::string_view KeepValue(int level, std::string_view value);

 private:
  std::vector<std::int32_t> m_openDepths;
  // Each value in a block of its own, so that growing the list for a deeper level
  // leaves the values kept for the levels above in place; an empty list, as most
  // connections keep, costs no allocation.
  std::vector<std::unique_ptr<std::string>> m_keptValues;
};
