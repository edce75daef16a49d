// ASCII-only case folding.
#include "core/ascii.h"

#include <algorithm>
#include <cstring>

namespace {

int CompareWith(std::string_view a, std::string_view b, bool noCase) {
  const std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    unsigned char x = static_cast<unsigned char>(noCase ? AsciiToLower(a[i]) : a[i]);
    unsigned char y = static_cast<unsigned char>(noCase ? AsciiToLower(b[i]) : b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

}  // namespace

int CompareBytes(std::string_view a, std::string_view b) { return CompareWith(a, b, false); }
int CompareBytesNoCase(std::string_view a, std::string_view b) { return CompareWith(a, b, true); }

std::size_t FindBytes(std::string_view haystack, std::string_view needle, std::size_t from,
                      bool noCase) {
  if (from > haystack.size() || needle.size() > haystack.size() - from)
    return std::string_view::npos;
  if (!noCase) return haystack.find(needle, from);
  if (needle.empty()) return from;
  const char first = AsciiToLower(needle[0]);
  const std::size_t last = haystack.size() - needle.size();
  for (std::size_t i = from; i <= last; ++i) {
    if (AsciiToLower(haystack[i]) != first) continue;
    if (EqualsNoCase(haystack.substr(i, needle.size()), needle)) return i;
  }
  return std::string_view::npos;
}

std::string ToLowerAscii(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = AsciiToLower(c);
  return lower;
}
