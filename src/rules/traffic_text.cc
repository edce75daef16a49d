// Bounded searches and writes over a piece of traffic.
#include "rules/traffic_text.h"

#include <algorithm>
#include <cstring>

#include "core/ascii.h"

namespace {

bool RestEqualsNoCase(const char* at, std::string_view needle) {
  for (std::size_t i = 1; i < needle.size(); ++i)
    if (AsciiToLower(at[i]) != AsciiToLower(needle[i])) return false;
  return true;
}

// Next position of `c` in [from, end), or `end`.
std::size_t NextByte(std::string_view text, char c, std::size_t from) {
  if (from >= text.size()) return text.size();
  const void* hit = std::memchr(text.data() + from, c, text.size() - from);
  return hit == nullptr ? text.size() : static_cast<const char*>(hit) - text.data();
}

}  // namespace

std::size_t FindNoCase(std::string_view haystack, std::string_view needle, std::size_t from) {
  if (from > haystack.size() || needle.size() > haystack.size() - from)
    return std::string_view::npos;
  if (needle.empty()) return from;
  const std::size_t last = haystack.size() - needle.size();
  // Candidates are the first byte in either case, each found with memchr; the
  // two cursors only move forward, so the scan stays linear.
  const char lower = AsciiToLower(needle[0]);
  const char upper = (lower >= 'a' && lower <= 'z') ? static_cast<char>(lower - 32) : lower;
  std::string_view window = haystack.substr(0, last + 1);
  std::size_t nextLower = NextByte(window, lower, from);
  std::size_t nextUpper = upper == lower ? window.size() : NextByte(window, upper, from);
  while (true) {
    const std::size_t candidate = std::min(nextLower, nextUpper);
    if (candidate > last) return std::string_view::npos;
    if (RestEqualsNoCase(haystack.data() + candidate, needle)) return candidate;
    if (candidate == nextLower) nextLower = NextByte(window, lower, candidate + 1);
    if (candidate == nextUpper) nextUpper = NextByte(window, upper, candidate + 1);
  }
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
