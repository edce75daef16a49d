// Lower-casing of attribute values without copying those already in lower case.
#include "rules/lower_text.h"

#include <algorithm>

#include "core/ascii.h"

void CLowerText::Assign(std::string_view text) {
  const bool hasCapital =
      std::any_of(text.begin(), text.end(), [](char c) { return c >= 'A' && c <= 'Z'; });
  m_owned = hasCapital;
  if (!hasCapital) {
    m_view = text;
    m_copy.clear();
    return;
  }
  m_view = {};
  m_copy.assign(text);
  for (char& c : m_copy) c = AsciiToLower(c);
}
