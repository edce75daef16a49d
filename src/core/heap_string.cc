// CHeapString operations.
#include "core/heap_string.h"

#include <algorithm>
#include <cstring>

#include "core/ascii.h"

namespace {

std::string_view UpToNul(std::string_view text) { return text.substr(0, text.find('\0')); }

std::string_view ViewOf(const char* text) { return text ? std::string_view(text) : std::string_view(); }

}  // namespace

CHeapString::CHeapString(const char* text) { Assign(ViewOf(text)); }

CHeapString::CHeapString(const char* text, int length) {
  if (text == nullptr || length <= 0) return;
  Assign(std::string_view(text, strnlen(text, static_cast<std::size_t>(length))));
}

CHeapString::CHeapString(std::string_view text) { Assign(UpToNul(text)); }

CHeapString::CHeapString(const CHeapString& other) { Assign(other.View()); }

CHeapString::CHeapString(CHeapString&& other) noexcept
    : m_block(std::move(other.m_block)), m_length(other.m_length), m_capacity(other.m_capacity) {
  other.m_length = 0;
  other.m_capacity = 0;
}

CHeapString& CHeapString::operator=(const CHeapString& other) {
  if (this != &other) Assign(other.View());
  return *this;
}

CHeapString& CHeapString::operator=(CHeapString&& other) noexcept {
  if (this == &other) return *this;
  m_block = std::move(other.m_block);
  m_length = other.m_length;
  m_capacity = other.m_capacity;
  other.m_length = 0;
  other.m_capacity = 0;
  return *this;
}

CHeapString& CHeapString::operator=(const char* text) {
  Assign(ViewOf(text));
  return *this;
}

CHeapString& CHeapString::operator=(std::string_view text) {
  Assign(UpToNul(text));
  return *this;
}

void CHeapString::Clear() {
  m_block.reset();
  m_length = 0;
  m_capacity = 0;
}

// Replaces the text; an allocation failure leaves the string empty.
void CHeapString::Assign(std::string_view text) {
  if (text.empty()) {
    Clear();
    return;
  }
  char* block = static_cast<char*>(std::malloc(text.size() + 1));
  if (block == nullptr) {
    Clear();
    return;
  }
  std::memcpy(block, text.data(), text.size());
  block[text.size()] = '\0';
  m_block.reset(block);
  m_length = text.size();
  m_capacity = text.size();
}

char CHeapString::GetAt(int index) const {
  if (index < 0 || static_cast<std::size_t>(index) >= m_length) return 0;
  return m_block.get()[index];
}

int CHeapString::Compare(const char* text) const {
  if (IsEmpty() || text == nullptr || *text == '\0') return 1;
  return CompareBytes(View(), text);
}

int CHeapString::CompareNoCase(const char* text) const {
  if (IsEmpty() || text == nullptr || *text == '\0') return 1;
  return CompareBytesNoCase(View(), text);
}

int CHeapString::Find(const char* text, int offset) const {
  if (text == nullptr || *text == '\0' || offset < 0 || static_cast<std::size_t>(offset) >= m_length)
    return -1;
  std::size_t at = FindBytes(View(), text, offset, false);
  return at == std::string_view::npos ? -1 : static_cast<int>(at);
}

CHeapString CHeapString::Left(int n) const {
  if (n <= 0) return {};
  return Mid(0, n);
}

CHeapString CHeapString::Mid(int start, int n) const {
  if (start < 0 || n <= 0 || static_cast<std::size_t>(start) >= m_length) return {};
  return CHeapString(View().substr(start, n));
}

CHeapString CHeapString::Right(int n) const {
  if (n <= 0 || static_cast<std::size_t>(n) > m_length) return {};
  return Mid(static_cast<int>(m_length) - n, n);
}

void CHeapString::MakeLower() {
  for (std::size_t i = 0; i < m_length; ++i) m_block.get()[i] = AsciiToLower(m_block.get()[i]);
}

CHeapString& CHeapString::Append(const char* text) { return Append(ViewOf(text)); }

CHeapString& CHeapString::Append(std::string_view text) {
  text = UpToNul(text);
  if (text.empty()) return *this;
  if (IsEmpty()) {
    Assign(text);
    return *this;
  }
  const std::size_t needed = m_length + text.size();
  if (needed > m_capacity) {
    std::size_t capacity = std::max(needed, m_capacity * 2);
    char* grown = static_cast<char*>(std::realloc(m_block.get(), capacity + 1));
    if (grown == nullptr) return *this;  // keeps the old text
    m_block.release();
    m_block.reset(grown);
    m_capacity = capacity;
  }
  std::memcpy(m_block.get() + m_length, text.data(), text.size());
  m_length = needed;
  m_block.get()[m_length] = '\0';
  return *this;
}

CHeapString& CHeapString::Append(char c) { return Append(std::string_view(&c, 1)); }

CHeapString CHeapString::operator+(const char* text) const {
  CHeapString result(*this);
  result.Append(text);
  return result;
}

CHeapString CHeapString::operator+(const CHeapString& other) const {
  CHeapString result(*this);
  result.Append(other);
  return result;
}

void CHeapString::TrimLeft(char c) {
  std::size_t skip = 0;
  while (skip < m_length && m_block.get()[skip] == c) ++skip;
  DropLeft(static_cast<int>(skip));
}

void CHeapString::TrimRight(char c) {
  std::size_t keep = m_length;
  while (keep > 0 && m_block.get()[keep - 1] == c) --keep;
  KeepLeft(static_cast<int>(keep));
}

void CHeapString::KeepLeft(int n) {
  if (n <= 0) {
    Clear();
    return;
  }
  if (static_cast<std::size_t>(n) >= m_length) return;
  m_length = static_cast<std::size_t>(n);
  m_block.get()[m_length] = '\0';
}

void CHeapString::DropLeft(int n) {
  if (n <= 0) return;
  if (static_cast<std::size_t>(n) >= m_length) {
    Clear();
    return;
  }
  m_length -= static_cast<std::size_t>(n);
  std::memmove(m_block.get(), m_block.get() + n, m_length + 1);
}
