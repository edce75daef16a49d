// The filter as it was before the rules were compiled, kept while the two are compared.
// CLowerText: an attribute value read with its ASCII letters lower-cased.
#pragma once

#include <string>
#include <string_view>

namespace legacy {
// Rule attributes are compared in lower case. Most values are written in lower
// case already, so the value is kept as a view of the document's text and copied
// only when it holds a capital letter. Nothing goes to the string pool: values
// are read afresh at every evaluation, from many threads at once.
class CLowerText {
 public:
  CLowerText() = default;
  explicit CLowerText(std::string_view text) { Assign(text); }

  void Assign(std::string_view text);

  std::string_view View() const { return m_owned ? std::string_view(m_copy) : m_view; }
  std::size_t size() const { return View().size(); }
  bool empty() const { return View().empty(); }

 private:
  std::string_view m_view;
  std::string m_copy;
  bool m_owned = false;
};

}  // namespace legacy
