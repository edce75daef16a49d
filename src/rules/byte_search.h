// Byte searches over traffic and rule texts, many positions at a time.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

// A needle prepared once for any number of searches: the searches test only the
// positions where two of its rarer bytes fit before comparing the whole needle.
// Refers to the needle's bytes, which must outlive it. Without case the letters
// A to Z are compared regardless of case; every other byte must be equal.
class CSearchNeedle {
 public:
  // The empty needle, found everywhere.
  CSearchNeedle() = default;
  CSearchNeedle(std::string_view needle, bool noCase);

  std::string_view GetText() const { return m_text; }

  // How many positions a search tests at once: the most the processor can
  // (kFastest), or one of the narrower ways, which the processor may lack (the
  // search then takes sixteen at a time). Every way gives the same result.
  enum class Blocks { kFastest, kAvx512, kAvx2, kPortable };

  // Leftmost occurrence in `haystack` at or after `from`, or npos; an empty
  // needle is found at `from`.
  std::size_t FindIn(std::string_view haystack, std::size_t from,
                     Blocks blocks = Blocks::kFastest) const;

  // One tested needle byte: `value` after setting the bits of `fold` (0x20 for a
  // letter compared without case, else 0).
  struct Probe {
    std::size_t offset = 0;
    unsigned char value = 0;
    unsigned char fold = 0;
  };

 private:
  bool EqualsAt(const char* at) const;
  // Positions [at, last] sixteen at a time, then one by one.
  std::size_t FindInNarrowBlocks(const char* bytes, std::size_t last, std::size_t at) const;

  std::string_view m_text;
  bool m_noCase = false;
  std::array<Probe, 2> m_probes{};
};
