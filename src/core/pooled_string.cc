// CPooledString operations.
#include "core/pooled_string.h"

#include <cstring>

#include "core/ascii.h"
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

int CPooledString::GetLength() const { return static_cast<int>(View().size()); }

char CPooledString::GetAt(int index) const {
  std::string_view text = View();
  if (index < 0 || static_cast<std::size_t>(index) >= text.size()) return 0;
  return text[index];
}

int CPooledString::Compare(const char* text) const {
  if (m_text == nullptr || text == nullptr || *text == '\0') return 1;
  return CompareBytes(View(), text);
}

int CPooledString::CompareNoCase(const char* text) const {
  if (m_text == nullptr || text == nullptr || *text == '\0') return 1;
  return CompareBytesNoCase(View(), text);
}

int CPooledString::Find(const char* text, int offset) const {
  std::string_view self = View();
  if (text == nullptr || *text == '\0' || offset < 0 ||
      static_cast<std::size_t>(offset) >= self.size())
    return -1;
  std::size_t at = FindBytes(self, text, offset, false);
  return at == std::string_view::npos ? -1 : static_cast<int>(at);
}

int CPooledString::FindNoCase(const char* text, int offset) const {
  std::string_view self = View();
  if (text == nullptr || *text == '\0' || offset < 0 ||
      static_cast<std::size_t>(offset) >= self.size())
    return -1;
  std::size_t at = FindBytes(self, text, offset, true);
  return at == std::string_view::npos ? -1 : static_cast<int>(at);
}

CPooledString CPooledString::Left(int n) const {
  if (n <= 0) return {};
  return Mid(0, n);
}

CPooledString CPooledString::Mid(int start, int n) const {
  std::string_view self = View();
  if (start < 0 || n <= 0 || static_cast<std::size_t>(start) >= self.size()) return {};
  return CPooledString(self.substr(start, n));
}

CPooledString CPooledString::Right(int n) const {
  int length = GetLength();
  if (n <= 0 || n > length) return {};
  return Mid(length - n, n);
}

CPooledString CPooledString::MakeLower() const {
  if (m_text == nullptr) return {};
  return CPooledString(std::string_view(ToLowerAscii(View())));
}

CPooledString& CPooledString::Append(const char* text) {
  if (text == nullptr || *text == '\0') return *this;
  std::string joined(View());
  joined += text;
  return *this = std::string_view(joined);
}

CPooledString& CPooledString::Append(char c) {
  if (c == '\0') return *this;
  const char text[2] = {c, '\0'};
  return Append(text);
}

CPooledString CPooledString::operator+(const char* text) const {
  CPooledString result(*this);
  result.Append(text);
  return result;
}
