// Bounded searches and writes over a piece of traffic.
#include "rules/traffic_text.h"

#include <algorithm>
#include <cstring>

CTrafficText::CTrafficText(char* buffer, std::size_t length)
    : m_buffer(buffer), m_length(buffer == nullptr ? 0 : length) {
  m_textEnd = m_length == 0 ? 0 : strnlen(m_buffer, m_length);
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

void CTrafficText::Move(std::size_t to, std::size_t from, std::size_t count) {
  if (to >= m_length || from >= m_length) return;
  count = std::min({count, m_length - to, m_length - from});
  std::memmove(m_buffer + to, m_buffer + from, count);
  ++m_writeCount;
  UpdateTextEnd(to, to + count);
}

void CTrafficText::UpdateTextEnd(std::size_t from, std::size_t to) {
  if (from > m_textEnd || to <= m_textEnd) return;
  m_textEnd = to + strnlen(m_buffer + to, m_length - to);
}
