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

inline std::unique_ptr<CCompiledConfig> MakeConfig(std::string_view rules, bool enabled = true) {
  return std::make_unique<CCompiledConfig>(MakeDocument(rules, enabled));
}

// One enabled rule holding `conditions`.
inline std::unique_ptr<CCompiledConfig> MakeRule(std::string_view conditions) {
  return MakeConfig("<filterrule name=\"test\"><enabled>yes</enabled>" + std::string(conditions) +
                    "</filterrule>");
}

// A received piece of traffic: its bytes and the 0 byte after them, in a block of
// exactly that size, so AddressSanitizer catches any access beyond.
inline std::unique_ptr<char[]> MakeBuffer(std::string_view bytes) {
  auto buffer = std::make_unique<char[]>(bytes.size() + 1);
  bytes.copy(buffer.get(), bytes.size());
  buffer[bytes.size()] = '\0';
  return buffer;
}

struct Outcome {
  FilterVerdict verdict;
  std::string text;
};

// One piece through FilterTraffic with the configuration's own filter state.
inline Outcome Filter(CCompiledConfig& config, std::string_view traffic, const PieceFlags& flags,
                      std::string_view url = "http://www.example.com/a/x.js") {
  const std::unique_ptr<char[]> buffer = MakeBuffer(traffic);
  Outcome outcome;
  outcome.verdict =
      FilterTraffic(buffer.get(), traffic.size(), flags, url, config.rules, config.state);
  EXPECT_EQ(buffer[traffic.size()], '\0');
  outcome.text.assign(buffer.get(), traffic.size());
  return outcome;
}

inline bool IsAllowed(CCompiledConfig& config, std::string_view traffic, std::string_view url) {
  return IsRequestAllowed(MakeBuffer(traffic).get(), traffic.size(), url, config.rules,
                          config.state);
}

}  // namespace rules_test
