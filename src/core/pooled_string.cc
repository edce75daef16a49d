// CPooledString operations.
#include "core/pooled_string.h"

#include "core/string_pool.h"

CPooledString::CPooledString(const char* text) { *this = text; }

CPooledString::CPooledString(std::string_view text) { *this = text; }

CPooledString& CPooledString::operator=(const char* text) {
  m_text = nullptr;
  if (text == nullptr || *text == '\0') return *this;
  m_text = GetStringPool().Intern(text);
  return *this;
}

CPooledString& CPooledString::operator=(std::string_view text) {
  m_text = nullptr;
  if (text.empty()) return *this;
  // A view may hold a NUL; like the C text it stands for, the string ends there.
  text = text.substr(0, text.find('\0'));
  if (text.empty()) return *this;
  m_text = GetStringPool().Intern(text);
  return *this;
}

std::string_view CPooledString::View() const {
  if (m_text == nullptr) return {};
  return std::string_view(m_text, CStringPool::StoredLength(m_text));
}
