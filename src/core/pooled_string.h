// CPooledString: an interned text, one pointer into the process-wide pool.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Equal texts share one stored copy, so copies are pointer copies and equality is
// a pointer comparison. The empty text is no pointer at all. Texts stay in the
// pool for the life of the process: hold names and configuration texts here,
// never per-request texts.
class CPooledString {
 public:
  CPooledString() = default;
  CPooledString(const char* text);  // NOLINT: implicit by design, like a text
  explicit CPooledString(std::string_view text);
  CPooledString(const CPooledString& other) = default;
  CPooledString& operator=(const CPooledString& other) = default;
  CPooledString& operator=(const char* text);
  CPooledString& operator=(std::string_view text);

  void Clear() { m_text = nullptr; }

  // The stored characters, or nullptr for the empty string.
  const char* GetText() const { return m_text; }
  // The stored characters as a view; empty for the empty string.
  std::string_view View() const;
  std::string ToString() const { return std::string(View()); }

  bool IsEmpty() const { return m_text == nullptr; }

  // Identity: the same stored text (so case-sensitive equality); two empty strings are equal.
  bool operator==(const CPooledString& other) const { return m_text == other.m_text; }
  bool operator!=(const CPooledString& other) const { return m_text != other.m_text; }

 private:
  const char* m_text = nullptr;
};
