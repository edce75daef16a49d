// Test helpers: configuration documents written as XML text, and traffic buffers.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "rules/filter_state.h"
#include "rules/request_matching.h"
#include "rules/rule_set.h"
#include "xml/xml_node.h"
#include "xml/xml_reader.h"

namespace rules_test {

// A configuration document, its rules compiled, and one connection's filter state.
struct CCompiledConfig {
  explicit CCompiledConfig(std::unique_ptr<CXmlNode> source)
      : document(std::move(source)), rules(*document) {}

  std::unique_ptr<CXmlNode> document;
  CRuleSet rules;
  CFilterState state;
};

// A configuration document with filtering on and the given filterrule elements.
inline std::unique_ptr<CXmlNode> MakeDocument(std::string_view rules, bool filterEnabled = true) {
  auto document = std::make_unique<CXmlNode>(CPooledString("__root__"));
  std::string xml = "<lumbra><enabled>";
  xml += filterEnabled ? "yes" : "no";
  xml += "</enabled><filterrules>";
  xml += rules;
  xml += "</filterrules></lumbra>";
  LoadXmlText(xml, true, *document);
  return document;
}

inline std::unique_ptr<CCompiledConfig> MakeConfig(std::string_view rules,
                                                   bool filterEnabled = true) {
  return std::make_unique<CCompiledConfig>(MakeDocument(rules, filterEnabled));
}

// One enabled rule holding `conditions`.
inline std::unique_ptr<CCompiledConfig> MakeRule(std::string_view conditions) {
  std::string rule = "<filterrule name=\"test\"><enabled>yes</enabled>";
  rule += conditions;
  rule += "</filterrule>";
  return MakeConfig(rule);
}

// A received piece of traffic: exactly `length` bytes and the 0 byte after them,
// in a block of exactly that size, so AddressSanitizer catches any access beyond.
class CTrafficBuffer {
 public:
  explicit CTrafficBuffer(std::string_view bytes)
      : m_bytes(std::make_unique<char[]>(bytes.size() + 1)), m_length(bytes.size()) {
    bytes.copy(m_bytes.get(), bytes.size());
    m_bytes[m_length] = '\0';
  }
  char* Data() { return m_bytes.get(); }
  std::size_t Length() const { return m_length; }
  std::string Text() const { return std::string(m_bytes.get(), m_length); }
  char Terminator() const { return m_bytes[m_length]; }

 private:
  std::unique_ptr<char[]> m_bytes;
  std::size_t m_length;
};

}  // namespace rules_test
