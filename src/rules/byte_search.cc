// Searches that test sixteen candidate positions at once with the compiler's
// portable vector types, and check only positions whose first and last bytes fit.
#include "rules/byte_search.h"

#include <cstdint>
#include <cstring>

#include "core/ascii.h"

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

bool EqualsAt(const char* at, std::string_view needle, bool noCase) {
  if (!noCase) return std::memcmp(at, needle.data(), needle.size()) == 0;
  for (std::size_t i = 0; i < needle.size(); ++i)
    if (AsciiToLower(at[i]) != AsciiToLower(needle[i])) return false;
  return true;
}

std::size_t Find(std::string_view haystack, std::string_view needle, std::size_t from,
                 bool noCase) {
  if (from > haystack.size() || needle.size() > haystack.size() - from)
    return std::string_view::npos;
  if (needle.empty()) return from;
  const std::size_t last = haystack.size() - needle.size();
  const char* bytes = haystack.data();
  const FoldedByte head(needle.front(), noCase);
  const FoldedByte tail(needle.back(), noCase);
  std::size_t at = from;
  // Blocks of sixteen positions, loaded only where every byte read lies inside.
  for (; at + kBlockSize - 1 <= last; at += kBlockSize) {
    const auto heads = (LoadBlock(bytes + at) | head.fold) == head.value;
    const auto tails = (LoadBlock(bytes + at + needle.size() - 1) | tail.fold) == tail.value;
    const auto both = heads & tails;
    if (!AnyLaneSet(both)) continue;
    for (std::size_t k = 0; k < kBlockSize; ++k)
      if (both[k] != 0 && EqualsAt(bytes + at + k, needle, noCase)) return at + k;
  }
  for (; at <= last; ++at)
    if (head.Matches(bytes[at]) && EqualsAt(bytes + at, needle, noCase)) return at;
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
