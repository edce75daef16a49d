// The attribute test that selects an element for removal by attribute value.
#pragma once

#include <cstddef>
#include <string_view>

#include "rules/element_markers.h"
#include "rules/traffic_text.h"

// The attributes of the element whose opening marker (with attributes) stands at
// `opening`: `begin` is just after the marker, `end` the first ">" after it (the
// last byte of the buffer when there is none). With an alternate tag, the area is
// that of the element which must follow the opening tag, after blank bytes only:
// `alternateOpener` is "<" + its tag + " ".
struct AttributeArea {
  std::size_t begin = 0;
  std::size_t end = 0;
};

// False when the alternate element is missing; `area.end` then still tells how
// far the search got, and the search for the next element goes on from there.
bool LocateAttributeArea(const CTrafficText& text, std::size_t opening,
                         const ElementMarkers& markers, std::string_view alternateOpener,
                         AttributeArea& area);

// True when the area holds `name` (the first occurrence, even inside a longer
// name), then "=", then a value matching `value`: "*x" the value ends with x,
// "x*" the value begins with x, else the whole value is x (letters in any case).
// Nothing at or beyond `area.end` is examined. `name` is searched without case.
bool AttributeMatches(const CTrafficText& text, const AttributeArea& area,
                      const CSearchNeedle& name, std::string_view value);
