// The filter as it was before the rules were compiled, kept while the two are compared.
// The two fields matching takes from traffic text: a header value and the request URL.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "rules/traffic_text.h"

namespace legacy {
// The value after the first occurrence of `name` anywhere in the text (at a line
// start or not, with or without a colon): every ":" and space after the name is
// skipped, and the value runs to the next space, CR, LF or end of text.
// Lower-cased into `value`; false when the name is missing or the value empty.
bool FindHeaderValue(const CTrafficText& text, std::string_view name, std::string& value);

// The request URL: the second space-separated token of the text (CR and LF do not
// end it), lower-cased into `url`; false when there is none.
bool FindRequestUrl(const CTrafficText& text, std::string& url);

// The URL a request condition tests: none when the text holds no LF or no URL
// token. A block list asks for it once per rule, so it is read again only after
// the text has been written to.
class CRequestUrlReader {
 public:
  std::optional<std::string_view> Read(const CTrafficText& text);

 private:
  bool m_read = false;
  unsigned m_writeCount = 0;
  bool m_found = false;
  std::string m_url;
};

// Header values for the conditions of one filter call. Several rules may ask for
// the same header (the built-in ones ask for "content-type" twice), and a piece
// without it is searched to its end each time; so each name's answer is kept
// until the text is written to. The answers also hold for another CTrafficText
// over the same bytes, as long as neither has been written to.
class CHeaderValueReader {
 public:
  // Same answer as FindHeaderValue(text, name, value).
  bool Read(const CTrafficText& text, std::string_view name, std::string& value);

 private:
  struct Entry {
    std::string name;
    bool found = false;
    std::string value;
  };
  unsigned m_writeCount = 0;
  std::vector<Entry> m_entries;
};

}  // namespace legacy
