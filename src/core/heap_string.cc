// CHeapString operations.
#include "core/heap_string.h"

#include <algorithm>
#include <cstring>


namespace {

std::string_view UpToNul(std::string_view text) { return text.substr(0, text.find('\0')); }

}  // namespace

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
