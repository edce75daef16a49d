// The markers built from a content element's tag, and the search for the end of
// an element that counts nested elements of the same tag.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "rules/traffic_text.h"

// For tag "div" (or "<div"): the opener "<div", and searches without case for the
// opening marker with attributes "<div ", the opener (which with ">" after it is
// the bare opening marker "<div>") and the closing marker "</div>". Refers to
// texts the rule set keeps.
struct ElementMarkers {
  std::string_view opener;
  CSearchNeedle openerSearch;
  CSearchNeedle openingWithSpaceSearch;
  CSearchNeedle closingSearch;

  bool IsEmpty() const { return opener.empty(); }
  std::string_view TagName() const { return opener.substr(1); }
  std::size_t OpeningWithSpaceLength() const { return opener.size() + 1; }
  std::size_t ClosingLength() const { return closingSearch.GetText().size(); }
};

// The next opening marker at or after `from`, with attributes or bare, whichever
// comes first; npos when there is none. Letters are compared ignoring case.
std::size_t FindOpeningMarker(const CTrafficText& text, const ElementMarkers& markers,
                              std::size_t from);

// Where counting open elements from `from` (starting at `count` > 0) ends.
struct ElementEnd {
  bool closed = false;     // a closing marker brought the count to 0
  std::size_t end = 0;     // just after that closing marker
  std::int32_t count = 0;  // elements still open when the text ended first
};

// Walks opening and closing markers in text order: each opening marker adds one,
// each closing marker takes one away, until the count reaches 0. The count stops
// growing at the largest 32-bit value.
ElementEnd FindElementEnd(const CTrafficText& text, const ElementMarkers& markers, std::size_t from,
                          std::int32_t count);
