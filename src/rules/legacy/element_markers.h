// The filter as it was before the rules were compiled, kept while the two are compared.
// The markers built from a content element's tag, and the search for the end of
// an element that counts nested elements of the same tag.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "rules/traffic_text.h"

namespace legacy {
// For tag "div" (or "<div"): opener "<div", opening marker with attributes
// "<div ", bare opening marker "<div>", closing marker "</div>".
struct ElementMarkers {
  explicit ElementMarkers(std::string_view tag);
  // The searches refer to the marker texts above them.
  ElementMarkers(const ElementMarkers&) = delete;
  ElementMarkers& operator=(const ElementMarkers&) = delete;

  const std::string opener;
  const std::string openingWithSpace;
  const std::string closing;
  // The three markers prepared for searching without case.
  const CSearchNeedle openerSearch;
  const CSearchNeedle openingWithSpaceSearch;
  const CSearchNeedle closingSearch;

  std::string_view TagName() const { return std::string_view(opener).substr(1); }
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

}  // namespace legacy
