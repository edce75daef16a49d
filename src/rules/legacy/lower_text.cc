// The filter as it was before the rules were compiled, kept while the two are compared.
// Lower-casing of attribute values without copying those already in lower case.
#include "rules/legacy/lower_text.h"

#include "core/ascii.h"
#include "rules/byte_search.h"

namespace legacy {
void CLowerText::Assign(std::string_view text) {
  const bool hasCapital = HasCapitalLetter(text);
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

}  // namespace legacy
