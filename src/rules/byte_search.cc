// Searches that test many candidate positions at once and check only positions
// where two of the needle's rarer bytes fit: sixty-four at a time with AVX2 where
// the processor has it, else sixteen with the compiler's portable vector types.
#include "rules/byte_search.h"

#include <array>
#include <cstdint>
#include <cstring>

#include "core/ascii.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace {

using ByteBlock = unsigned char __attribute__((vector_size(16)));
constexpr std::size_t kBlockSize = sizeof(ByteBlock);

ByteBlock LoadBlock(const char* at) {
  ByteBlock block;
  std::memcpy(&block, at, kBlockSize);
  return block;
}

template <typename Lanes>
bool AnyLaneSet(const Lanes& lanes) {
  std::uint64_t halves[2];
  static_assert(sizeof(lanes) == sizeof(halves));
  std::memcpy(halves, &lanes, sizeof(halves));
  return (halves[0] | halves[1]) != 0;
}

bool IsLowerLetter(char c) { return c >= 'a' && c <= 'z'; }

// A byte of the needle as compared: without case, a letter is folded to lower
// case by setting bit 0x20, which maps no other byte onto a lower-case letter.
struct FoldedByte {
  FoldedByte(char c, bool noCase)
      : value(static_cast<unsigned char>(noCase ? AsciiToLower(c) : c)),
        fold(noCase && IsLowerLetter(static_cast<char>(value)) ? 0x20 : 0) {}
  bool Matches(char c) const { return (static_cast<unsigned char>(c) | fold) == value; }
  unsigned char value;
  unsigned char fold;
};

// How often a byte turns up in web pages, roughly: blanks and the common letters
// most, markup punctuation next, capitals, digits and the rest least. Only the
// choice of the bytes a block test looks at depends on it, never a result.
constexpr std::array<unsigned char, 256> MakeCommonnessTable() {
  std::array<unsigned char, 256> table{};
  table.fill(20);
  for (const char c : std::string_view("\r\t-_;,()'0123456789"))
    table[static_cast<unsigned char>(c)] = 70;
  for (const char c : std::string_view("<>\"=/.:\n")) table[static_cast<unsigned char>(c)] = 120;
  constexpr std::string_view kLettersByFrequency = "etaoinsrhldcumfpgwybvkxjqz";
  for (std::size_t rank = 0; rank < kLettersByFrequency.size(); ++rank) {
    const auto lower = static_cast<unsigned char>(kLettersByFrequency[rank]);
    table[lower] = static_cast<unsigned char>(250 - rank * 6);
    table[lower - 32] = static_cast<unsigned char>(60 - rank * 2);
  }
  table[' '] = 255;
  return table;
}

constexpr std::array<unsigned char, 256> kCommonness = MakeCommonnessTable();

int Commonness(char c) { return kCommonness[static_cast<unsigned char>(c)]; }

// The two needle positions whose bytes the block tests compare: the rarest byte
// and the rarest one at another position (the same position for one byte).
struct Probes {
  Probes(std::string_view needle, bool noCase) {
    // Without case a capital in the needle also finds the common small letter.
    const auto rarity = [&](std::size_t i) {
      return Commonness(noCase ? AsciiToLower(needle[i]) : needle[i]);
    };
    std::size_t rarest = 0;
    for (std::size_t i = 1; i < needle.size(); ++i)
      if (rarity(i) < rarity(rarest)) rarest = i;
    std::size_t second = rarest == 0 ? needle.size() - 1 : 0;
    for (std::size_t i = 0; i < needle.size(); ++i)
      if (i != rarest && rarity(i) < rarity(second)) second = i;
    first = rarest;
    other = second;
    firstByte = FoldedByte(needle[first], noCase);
    otherByte = FoldedByte(needle[other], noCase);
  }
  std::size_t first = 0;
  std::size_t other = 0;
  FoldedByte firstByte{'\0', false};
  FoldedByte otherByte{'\0', false};
};

bool EqualsAt(const char* at, std::string_view needle, bool noCase) {
  if (!noCase) return std::memcmp(at, needle.data(), needle.size()) == 0;
  for (std::size_t i = 0; i < needle.size(); ++i)
    if (AsciiToLower(at[i]) != AsciiToLower(needle[i])) return false;
  return true;
}

#if defined(__x86_64__)

bool HasWideBlocks() {
  static const bool supported = __builtin_cpu_supports("avx2");
  return supported;
}

__attribute__((target("avx2"))) __m256i MatchLanes(const char* at, const FoldedByte& byte) {
  const __m256i block = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at));
  const __m256i folded = _mm256_or_si256(block, _mm256_set1_epi8(static_cast<char>(byte.fold)));
  return _mm256_cmpeq_epi8(folded, _mm256_set1_epi8(static_cast<char>(byte.value)));
}

// Candidate positions [at, at + 32) as bits, the lowest for `at`.
__attribute__((target("avx2"))) std::uint64_t WideCandidates(const char* at,
                                                              const Probes& probes) {
  const __m256i both = _mm256_and_si256(MatchLanes(at + probes.first, probes.firstByte),
                                        MatchLanes(at + probes.other, probes.otherByte));
  return static_cast<std::uint32_t>(_mm256_movemask_epi8(both));
}

// Blocks of sixty-four positions from `at` while every byte read lies inside;
// returns the first match, or npos with `at` moved past the blocks tested.
__attribute__((target("avx2"))) std::size_t FindInWideBlocks(const char* bytes, std::size_t last,
                                                             std::string_view needle, bool noCase,
                                                             const Probes& probes,
                                                             std::size_t& at) {
  constexpr std::size_t kWideBlockSize = 64;
  for (; at + kWideBlockSize - 1 <= last; at += kWideBlockSize) {
    std::uint64_t lanes =
        WideCandidates(bytes + at, probes) | WideCandidates(bytes + at + 32, probes) << 32;
    for (; lanes != 0; lanes &= lanes - 1) {
      const std::size_t k = static_cast<std::size_t>(__builtin_ctzll(lanes));
      if (EqualsAt(bytes + at + k, needle, noCase)) return at + k;
    }
  }
  return std::string_view::npos;
}

#else

bool HasWideBlocks() { return false; }

std::size_t FindInWideBlocks(const char*, std::size_t, std::string_view, bool, const Probes&,
                             std::size_t&) {
  return std::string_view::npos;
}

#endif

std::size_t Find(std::string_view haystack, std::string_view needle, std::size_t from,
                 bool noCase) {
  if (from > haystack.size() || needle.size() > haystack.size() - from)
    return std::string_view::npos;
  if (needle.empty()) return from;
  const std::size_t last = haystack.size() - needle.size();
  const char* bytes = haystack.data();
  const Probes probes(needle, noCase);
  std::size_t at = from;
  if (HasWideBlocks()) {
    const std::size_t found = FindInWideBlocks(bytes, last, needle, noCase, probes, at);
    if (found != std::string_view::npos) return found;
  }
  // Blocks of sixteen positions, loaded only where every byte read lies inside.
  const FoldedByte& head = probes.firstByte;
  const FoldedByte& tail = probes.otherByte;
  for (; at + kBlockSize - 1 <= last; at += kBlockSize) {
    const auto heads = (LoadBlock(bytes + at + probes.first) | head.fold) == head.value;
    const auto tails = (LoadBlock(bytes + at + probes.other) | tail.fold) == tail.value;
    const auto both = heads & tails;
    if (!AnyLaneSet(both)) continue;
    for (std::size_t k = 0; k < kBlockSize; ++k)
      if (both[k] != 0 && EqualsAt(bytes + at + k, needle, noCase)) return at + k;
  }
  for (; at <= last; ++at)
    if (head.Matches(bytes[at + probes.first]) && EqualsAt(bytes + at, needle, noCase)) return at;
  return std::string_view::npos;
}

}  // namespace

std::size_t FindNoCase(std::string_view haystack, std::string_view needle, std::size_t from) {
  return Find(haystack, needle, from, true);
}

std::size_t FindExact(std::string_view haystack, std::string_view needle, std::size_t from) {
  return Find(haystack, needle, from, false);
}

bool HasCapitalLetter(std::string_view text) {
  std::size_t at = 0;
  for (; at + kBlockSize <= text.size(); at += kBlockSize) {
    const ByteBlock offsets = LoadBlock(text.data() + at) - static_cast<unsigned char>('A');
    if (AnyLaneSet(offsets < static_cast<unsigned char>(26))) return true;
  }
  for (; at < text.size(); ++at)
    if (text[at] >= 'A' && text[at] <= 'Z') return true;
  return false;
}
