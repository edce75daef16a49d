// Searches that test many candidate positions at once and compare the whole
// needle only where two of its rarer bytes fit: sixty-four positions per step
// with AVX-512 or AVX2 where the processor has them, else sixteen with the
// compiler's portable vector types.
#include "rules/byte_search.h"

#include <cstdint>
#include <cstring>

#include "core/ascii.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace {

constexpr std::size_t npos = std::string_view::npos;

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

// The same for a needle compared without case, where a capital also finds the
// common small letter.
constexpr std::array<unsigned char, 256> MakeFoldedCommonnessTable() {
  std::array<unsigned char, 256> table = kCommonness;
  for (int c = 'A'; c <= 'Z'; ++c) table[c] = kCommonness[c + 32];
  return table;
}

constexpr std::array<unsigned char, 256> kFoldedCommonness = MakeFoldedCommonnessTable();

CSearchNeedle::Probe MakeProbe(std::string_view needle, std::size_t offset, bool noCase) {
  CSearchNeedle::Probe probe;
  probe.offset = offset;
  const char c = noCase ? AsciiToLower(needle[offset]) : needle[offset];
  probe.value = static_cast<unsigned char>(c);
  probe.fold = noCase && IsLowerLetter(c) ? 0x20 : 0;
  return probe;
}

bool ProbeMatches(const CSearchNeedle::Probe& probe, const char* at) {
  return (static_cast<unsigned char>(at[probe.offset]) | probe.fold) == probe.value;
}

// Inlined into the block loops; only an exact comparison calls the library.
__attribute__((always_inline)) inline bool NeedleAt(const char* at, std::string_view needle,
                                                    bool noCase) {
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

bool HasWidestBlocks() {
  static const bool supported = __builtin_cpu_supports("avx512bw");
  return supported;
}

// As FindInWideBlocks below, with one 64-byte register per probe.
__attribute__((target("avx512bw"))) std::size_t FindInWidestBlocks(
    const char* bytes, std::size_t last, std::string_view needle, bool noCase,
    const std::array<CSearchNeedle::Probe, 2>& probes, std::size_t& at) {
  constexpr std::size_t kWidestBlockSize = 64;
  const __m512i fold0 = _mm512_set1_epi8(static_cast<char>(probes[0].fold));
  const __m512i value0 = _mm512_set1_epi8(static_cast<char>(probes[0].value));
  const __m512i fold1 = _mm512_set1_epi8(static_cast<char>(probes[1].fold));
  const __m512i value1 = _mm512_set1_epi8(static_cast<char>(probes[1].value));
  const char* const first = bytes + probes[0].offset;
  const char* const other = bytes + probes[1].offset;
  std::size_t position = at;
  for (; position + kWidestBlockSize - 1 <= last; position += kWidestBlockSize) {
    const __m512i a = _mm512_loadu_si512(first + position);
    const __m512i b = _mm512_loadu_si512(other + position);
    const __mmask64 heads = _mm512_cmpeq_epi8_mask(_mm512_or_si512(a, fold0), value0);
    std::uint64_t candidates =
        _mm512_mask_cmpeq_epi8_mask(heads, _mm512_or_si512(b, fold1), value1);
    for (; candidates != 0; candidates &= candidates - 1) {
      const std::size_t found = position + static_cast<std::size_t>(__builtin_ctzll(candidates));
      if (NeedleAt(bytes + found, needle, noCase)) {
        at = position;
        return found;
      }
    }
  }
  at = position;
  return npos;
}

// The positions [at, at + 32) whose probe bytes fit, as bits, the lowest for `at`.
__attribute__((target("avx2"), always_inline)) inline std::uint64_t WideCandidates(
    const char* first, const char* other, std::size_t at, __m256i fold0, __m256i value0,
    __m256i fold1, __m256i value1) {
  const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(first + at));
  const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(other + at));
  const __m256i both = _mm256_and_si256(_mm256_cmpeq_epi8(_mm256_or_si256(a, fold0), value0),
                                        _mm256_cmpeq_epi8(_mm256_or_si256(b, fold1), value1));
  return static_cast<std::uint32_t>(_mm256_movemask_epi8(both));
}

// Positions from `at` up to `last` in blocks of sixty-four that read only bytes
// inside the haystack; returns the first full match, or npos with `at` moved
// past the blocks tested.
__attribute__((target("avx2"))) std::size_t FindInWideBlocks(
    const char* bytes, std::size_t last, std::string_view needle, bool noCase,
    const std::array<CSearchNeedle::Probe, 2>& probes, std::size_t& at) {
  constexpr std::size_t kWideBlockSize = 64;
  const __m256i fold0 = _mm256_set1_epi8(static_cast<char>(probes[0].fold));
  const __m256i value0 = _mm256_set1_epi8(static_cast<char>(probes[0].value));
  const __m256i fold1 = _mm256_set1_epi8(static_cast<char>(probes[1].fold));
  const __m256i value1 = _mm256_set1_epi8(static_cast<char>(probes[1].value));
  const char* const first = bytes + probes[0].offset;
  const char* const other = bytes + probes[1].offset;
  std::size_t position = at;
  for (; position + kWideBlockSize - 1 <= last; position += kWideBlockSize) {
    std::uint64_t candidates =
        WideCandidates(first, other, position, fold0, value0, fold1, value1) |
        WideCandidates(first, other, position + 32, fold0, value0, fold1, value1) << 32;
    for (; candidates != 0; candidates &= candidates - 1) {
      const std::size_t found = position + static_cast<std::size_t>(__builtin_ctzll(candidates));
      if (NeedleAt(bytes + found, needle, noCase)) {
        at = position;
        return found;
      }
    }
  }
  at = position;
  return npos;
}

#else

bool HasWideBlocks() { return false; }

bool HasWidestBlocks() { return false; }

std::size_t FindInWidestBlocks(const char*, std::size_t, std::string_view, bool,
                               const std::array<CSearchNeedle::Probe, 2>&, std::size_t&) {
  return npos;
}

std::size_t FindInWideBlocks(const char*, std::size_t, std::string_view, bool,
                             const std::array<CSearchNeedle::Probe, 2>&, std::size_t&) {
  return npos;
}

#endif

}  // namespace

CSearchNeedle::CSearchNeedle(std::string_view needle, bool noCase)
    : m_text(needle), m_noCase(noCase) {
  if (needle.empty()) return;
  // The rarest byte and the next rarest at another position (the same position
  // for a one-byte needle).
  const std::array<unsigned char, 256>& table = noCase ? kFoldedCommonness : kCommonness;
  std::size_t rarest = 0;
  std::size_t second = 0;
  unsigned rarestValue = table[static_cast<unsigned char>(needle[0])];
  unsigned secondValue = 256;
  for (std::size_t i = 1; i < needle.size(); ++i) {
    const unsigned value = table[static_cast<unsigned char>(needle[i])];
    if (value < rarestValue) {
      second = rarest;
      secondValue = rarestValue;
      rarest = i;
      rarestValue = value;
    } else if (value < secondValue) {
      second = i;
      secondValue = value;
    }
  }
  m_probes = {MakeProbe(needle, rarest, noCase), MakeProbe(needle, second, noCase)};
}

bool CSearchNeedle::EqualsAt(const char* at) const { return NeedleAt(at, m_text, m_noCase); }

namespace {

// The widest block search the processor has, chosen once.
CSearchNeedle::Blocks FastestBlocks() {
  static const CSearchNeedle::Blocks fastest = HasWidestBlocks() ? CSearchNeedle::Blocks::kAvx512
                                               : HasWideBlocks() ? CSearchNeedle::Blocks::kAvx2
                                                                 : CSearchNeedle::Blocks::kPortable;
  return fastest;
}

}  // namespace

std::size_t CSearchNeedle::FindIn(std::string_view haystack, std::size_t from,
                                  Blocks blocks) const {
  if (from > haystack.size() || m_text.size() > haystack.size() - from) return npos;
  if (m_text.empty()) return from;
  const std::size_t last = haystack.size() - m_text.size();
  std::size_t at = from;
  // Fewer positions than one wide block (attribute lists, say) go straight to the
  // narrow blocks.
  if (last - at < 63) return FindInNarrowBlocks(haystack.data(), last, at);
  if (blocks == Blocks::kFastest) blocks = FastestBlocks();
  if (blocks == Blocks::kAvx512 && HasWidestBlocks()) {
    const std::size_t found =
        FindInWidestBlocks(haystack.data(), last, m_text, m_noCase, m_probes, at);
    if (found != npos || at > last) return found;
  } else if (blocks == Blocks::kAvx2 && HasWideBlocks()) {
    const std::size_t found =
        FindInWideBlocks(haystack.data(), last, m_text, m_noCase, m_probes, at);
    if (found != npos || at > last) return found;
  }
  return FindInNarrowBlocks(haystack.data(), last, at);
}

std::size_t CSearchNeedle::FindInNarrowBlocks(const char* bytes, std::size_t last,
                                              std::size_t at) const {
  // Blocks of sixteen positions, loaded only where every byte read lies inside.
  const Probe& head = m_probes[0];
  const Probe& tail = m_probes[1];
  for (; at + kBlockSize - 1 <= last; at += kBlockSize) {
    const auto heads = (LoadBlock(bytes + at + head.offset) | head.fold) == head.value;
    const auto tails = (LoadBlock(bytes + at + tail.offset) | tail.fold) == tail.value;
    const auto both = heads & tails;
    if (!AnyLaneSet(both)) continue;
    for (std::size_t k = 0; k < kBlockSize; ++k)
      if (both[k] != 0 && EqualsAt(bytes + at + k)) return at + k;
  }
  for (; at <= last; ++at)
    if (ProbeMatches(head, bytes + at) && EqualsAt(bytes + at)) return at;
  return npos;
}
