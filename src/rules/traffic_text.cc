// Bounded searches and writes over a piece of traffic.
#include "rules/traffic_text.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "core/ascii.h"

namespace {

bool RestEqualsNoCase(const char* at, std::string_view needle) {
  for (std::size_t i = 1; i < needle.size(); ++i)
    if (AsciiToLower(at[i]) != AsciiToLower(needle[i])) return false;
  return true;
}

bool IsLowerLetter(char c) { return c >= 'a' && c <= 'z'; }

// Sixteen bytes compared at once (the compiler's portable vector types).
using ByteBlock = unsigned char __attribute__((vector_size(16)));
constexpr std::size_t kBlockSize = sizeof(ByteBlock);

ByteBlock LoadBlock(const char* at) {
  ByteBlock block;
  std::memcpy(&block, at, kBlockSize);
  return block;
}

// A byte of the needle in either case: a letter is folded to lower case by
// setting bit 0x20, which maps no other byte onto a lower-case letter.
struct FoldedByte {
  explicit FoldedByte(char c)
      : value(static_cast<unsigned char>(AsciiToLower(c))),
        fold(IsLowerLetter(AsciiToLower(c)) ? 0x20 : 0) {}
  unsigned char value;
  unsigned char fold;
};

}  // namespace

std::size_t FindNoCase(std::string_view haystack, std::string_view needle, std::size_t from) {
  if (from > haystack.size() || needle.size() > haystack.size() - from)
    return std::string_view::npos;
  if (needle.empty()) return from;
  const std::size_t last = haystack.size() - needle.size();
  const char* bytes = haystack.data();
  // Positions whose first and last bytes both match are checked in full; blocks
  // of sixteen positions without one are skipped whole.
  const FoldedByte head(needle.front());
  const FoldedByte tail(needle.back());
  std::size_t at = from;
  for (; at + kBlockSize - 1 <= last; at += kBlockSize) {
    const auto heads = (LoadBlock(bytes + at) | head.fold) == head.value;
    const auto tails = (LoadBlock(bytes + at + needle.size() - 1) | tail.fold) == tail.value;
    const auto both = heads & tails;
    std::uint64_t halves[2];
    std::memcpy(halves, &both, sizeof(halves));
    if ((halves[0] | halves[1]) == 0) continue;
    for (std::size_t k = 0; k < kBlockSize; ++k)
      if (both[k] != 0 && RestEqualsNoCase(bytes + at + k, needle)) return at + k;
  }
  for (; at <= last; ++at) {
    if ((static_cast<unsigned char>(bytes[at]) | head.fold) != head.value) continue;
    if (RestEqualsNoCase(bytes + at, needle)) return at;
  }
  return std::string_view::npos;
}

CTrafficText::CTrafficText(char* buffer, std::size_t length)
    : m_buffer(buffer), m_length(buffer == nullptr ? 0 : length) {
  m_textEnd = m_length == 0 ? 0 : strnlen(m_buffer, m_length);
}

std::size_t CTrafficText::FindNoCase(std::string_view needle, std::size_t from) const {
  return ::FindNoCase(GetText(), needle, from);
}

std::size_t CTrafficText::Find(std::string_view needle, std::size_t from) const {
  if (from > m_textEnd) return npos;
  return GetText().find(needle, from);
}

std::size_t CTrafficText::FindByte(char needle, std::size_t from, std::size_t before) const {
  before = std::min(before, m_textEnd);
  if (from >= before) return npos;
  const void* hit = std::memchr(m_buffer + from, needle, before - from);
  return hit == nullptr ? npos : static_cast<const char*>(hit) - m_buffer;
}

void CTrafficText::Blank(std::size_t from, std::size_t to) {
  to = std::min(to, m_length);
  if (from >= to) return;
  std::memset(m_buffer + from, ' ', to - from);
  ++m_writeCount;
  UpdateTextEnd(from, to);
}

void CTrafficText::Write(std::size_t at, std::string_view bytes) {
  if (at >= m_length) return;
  const std::size_t count = std::min(bytes.size(), m_length - at);
  std::memcpy(m_buffer + at, bytes.data(), count);
  ++m_writeCount;
  UpdateTextEnd(at, at + count);
}

void CTrafficText::UpdateTextEnd(std::size_t from, std::size_t to) {
  if (from > m_textEnd || to <= m_textEnd) return;
  m_textEnd = to + strnlen(m_buffer + to, m_length - to);
}
