// The two fields matching takes from traffic text: a header value and the request URL.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string_view>

#include "rules/traffic_text.h"

// The value after the first occurrence of `name` anywhere in the text (at a line
// start or not, with or without a colon): every ":" and space after the name is
// skipped, and the value runs to the next space, CR, LF or end of text. It is a
// view of the text, letters in their own case; none when the name is missing or
// the value empty.
std::optional<std::string_view> FindHeaderValue(const CTrafficText& text,
                                                const CSearchNeedle& name);

// The request URL: the second space-separated token of the text (CR and LF do not
// end it), as a view of the text; none when the text holds no LF or no such token.
std::optional<std::string_view> FindRequestUrl(const CTrafficText& text);

// The request URL for the conditions of one filter call. A block list asks for
// it once per rule, so it is read again only after the text has been written to.
class CRequestUrlReader {
 public:
  std::optional<std::string_view> Read(const CTrafficText& text);

 private:
  bool m_read = false;
  unsigned m_writeCount = 0;
  std::optional<std::string_view> m_url;
};

// Header values for the conditions of one filter call. Several rules may ask for
// the same header (the built-in ones ask for "content-type" twice), and a piece
// without it is searched to its end each time; so the answers for the first few
// names are kept until the text is written to.
class CHeaderValueReader {
 public:
  // Same answer as FindHeaderValue(text, name).
  std::optional<std::string_view> Read(const CTrafficText& text, const CSearchNeedle& name);

 private:
  struct Entry {
    std::string_view name;
    std::optional<std::string_view> value;
  };
  static constexpr std::size_t kKeptNames = 8;
  unsigned m_writeCount = 0;
  std::size_t m_count = 0;
  std::array<Entry, kKeptNames> m_entries;
};
