// ASCII-only case folding.
#include "core/ascii.h"

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

std::string_view TrimBlanks(std::string_view text, std::string_view blanks) {
  const std::size_t first = text.find_first_not_of(blanks);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

std::string ToLowerAscii(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = AsciiToLower(c);
  return lower;
}
