// The nested-element count over a piece of traffic.
#include "rules/element_markers.h"

#include <limits>

std::size_t FindOpeningMarker(const CTrafficText& text, const ElementMarkers& markers,
                              std::size_t from) {
  while (true) {
    const std::size_t at = text.Find(markers.openerSearch, from);
    if (at == CTrafficText::npos) return at;
    const std::size_t next = at + markers.opener.size();
    if (next < text.GetTextEnd()) {
      const char c = text.GetBuffer()[next];
      if (c == ' ' || c == '>') return at;
    }
    from = at + 1;
  }
}

ElementEnd FindElementEnd(const CTrafficText& text, const ElementMarkers& markers, std::size_t from,
                          std::int32_t count) {
  constexpr std::size_t npos = CTrafficText::npos;
  // Nothing is written while counting, so each marker found stays valid until the
  // walk passes it; each is searched for again only then, keeping the walk linear.
  std::size_t opening = FindOpeningMarker(text, markers, from);
  std::size_t closing = text.Find(markers.closingSearch, from);
  ElementEnd result;
  while (true) {
    if (opening != npos && (closing == npos || opening < closing)) {
      if (count < std::numeric_limits<std::int32_t>::max()) ++count;
      opening = FindOpeningMarker(text, markers, opening + 1);
      continue;
    }
    if (closing == npos) break;
    if (--count == 0) {
      result.closed = true;
      result.end = closing + markers.ClosingLength();
      break;
    }
    closing = text.Find(markers.closingSearch, closing + 1);
  }
  result.count = count;
  return result;
}
