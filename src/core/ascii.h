// Case folding and comparisons that touch the ASCII letters A to Z only, as every
// case-insensitive comparison of the system does.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

inline char AsciiToLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

inline bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (AsciiToLower(a[i]) != AsciiToLower(b[i])) return false;
  return true;
}

// The same for two texts that end at their first 0 byte; most pairs differ in
// their first letters, which settles it without measuring either.
inline bool CTextEqualsNoCase(const char* a, const char* b) {
  for (;; ++a, ++b) {
    if (AsciiToLower(*a) != AsciiToLower(*b)) return false;
    if (*a == '\0') return true;
  }
}

// Index of the first occurrence of `needle` in `haystack` at or after `from`,
// or npos; with `noCase` the letters A to Z match either case.
std::size_t FindBytes(std::string_view haystack, std::string_view needle, std::size_t from,
                      bool noCase);

std::string ToLowerAscii(std::string_view text);

// `text` without the bytes of `blanks` at either end.
std::string_view TrimBlanks(std::string_view text, std::string_view blanks = " \t");
