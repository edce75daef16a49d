// Test helpers: rules written as XML text and compiled, traffic buffers, and one
// piece through the filter.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

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

// A configuration document with the given filterrule elements.
inline std::unique_ptr<CXmlNode> MakeDocument(std::string_view rules, bool filterEnabled = true) {
  auto document = std::make_unique<CXmlNode>(CPooledString("__root__"));
  LoadXmlText(std::string("<lumbra><enabled>") + (filterEnabled ? "yes" : "no") +
                  "</enabled><filterrules>" + std::string(rules) + "</filterrules></lumbra>",
              true, *document);
  return document;
}

inline std::unique_ptr<CCompiledConfig> MakeConfig(std::string_view rules,
                                                   bool filterEnabled = true) {
  return std::make_unique<CCompiledConfig>(MakeDocument(rules, filterEnabled));
}

// One enabled rule holding `conditions`.
inline std::unique_ptr<CCompiledConfig> MakeRule(std::string_view conditions) {
  return MakeConfig("<filterrule name=\"test\"><enabled>yes</enabled>" + std::string(conditions) +
                    "</filterrule>");
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

struct Outcome {
  FilterVerdict verdict;
  std::string text;
};

// One piece through FilterTraffic with the configuration's own filter state.
inline Outcome Filter(CCompiledConfig& config, std::string_view traffic, const PieceFlags& flags,
                      std::string_view url = "http://www.example.com/a/x.js") {
  CTrafficBuffer buffer(traffic);
  Outcome outcome;
  outcome.verdict =
      FilterTraffic(buffer.Data(), buffer.Length(), flags, url, config.rules, config.state);
  EXPECT_EQ(buffer.Terminator(), '\0');
  outcome.text = buffer.Text();
  return outcome;
}

inline bool IsAllowed(CCompiledConfig& config, std::string_view traffic, std::string_view url) {
  CTrafficBuffer buffer(traffic);
  return IsRequestAllowed(buffer.Data(), buffer.Length(), url, config.rules, config.state);
}

}  // namespace rules_test
