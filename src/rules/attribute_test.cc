// Locating and testing the attributes of an element.
#include "rules/attribute_test.h"

#include <algorithm>

#include "core/ascii.h"

namespace {

bool IsQuote(char c) { return c == '"' || c == '\''; }

// End of the attribute area: the first ">" from `begin`, else the buffer's last byte.
std::size_t FindAreaEnd(const CTrafficText& text, std::size_t begin) {
  const std::size_t end = text.FindByte('>', begin, text.GetTextEnd());
  return end == CTrafficText::npos ? text.GetLength() - 1 : end;
}

std::size_t SkipBlanks(std::string_view area, std::size_t at) {
  while (at < area.size() && IsBlankByte(area[at])) ++at;
  return at;
}

bool ValueMatches(std::string_view area, std::size_t v, std::string_view value) {
  const std::size_t remaining = area.size() - v;
  if (value.starts_with('*')) {
    const std::string_view tail = value.substr(1);
    std::size_t end = v;
    while (end < area.size() && !IsBlankByte(area[end]) && !IsQuote(area[end])) ++end;
    return end - v >= tail.size() &&
           EqualsNoCase(area.substr(end - tail.size(), tail.size()), tail);
  }
  if (value.ends_with('*')) {
    const std::string_view head = value.substr(0, value.size() - 1);
    return remaining >= head.size() && EqualsNoCase(area.substr(v, head.size()), head);
  }
  if (remaining < value.size() || !EqualsNoCase(area.substr(v, value.size()), value)) return false;
  // The value must end there; the area's end reads as the end of the text.
  const std::size_t after = v + value.size();
  return after == area.size() || IsBlankByte(area[after]) || IsQuote(area[after]) ||
         area[after] == '>';
}

}  // namespace

bool LocateAttributeArea(const CTrafficText& text, std::size_t opening,
                         const ElementMarkers& markers, std::string_view alternateOpener,
                         AttributeArea& area) {
  area.begin = opening + markers.OpeningWithSpaceLength();
  area.end = FindAreaEnd(text, area.begin);
  if (alternateOpener.empty()) return true;
  const std::size_t length = text.GetLength();
  const char* buffer = text.GetBuffer();
  std::size_t s = area.end + 1;
  while (s < length && IsBlankByte(buffer[s])) ++s;
  if (s >= length) return false;
  if (length - s < alternateOpener.size() ||
      !EqualsNoCase(std::string_view(buffer + s, alternateOpener.size()), alternateOpener))
    return false;
  area.begin = s + alternateOpener.size();
  area.end = FindAreaEnd(text, area.begin);
  return true;
}

bool AttributeMatches(const CTrafficText& text, const AttributeArea& area,
                      const CSearchNeedle& name, std::string_view value) {
  // The area stops at the first 0 byte, which the text end is.
  const std::size_t end = std::min(area.end, text.GetTextEnd());
  if (area.begin >= end) return false;
  const std::string_view bytes(text.GetBuffer() + area.begin, end - area.begin);
  const std::size_t at = name.FindIn(bytes, 0);
  if (at == std::string_view::npos) return false;
  std::size_t v = SkipBlanks(bytes, at + name.GetText().size());
  if (v >= bytes.size() || bytes[v] != '=') return false;
  v = SkipBlanks(bytes, v + 1);
  if (v < bytes.size() && IsQuote(bytes[v])) ++v;
  if (v >= bytes.size()) return false;
  return ValueMatches(bytes, v, value);
}
