// Fuzzes FilterTraffic and IsRequestAllowed with the built-in rules and with small
// random rule sets over random traffic, piece after piece with one filter state.
// AddressSanitizer checks that no byte outside a piece's buffer is touched; the
// target checks that the terminating 0 byte stays and that no 0 byte is written.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "config/default_config.h"
#include "rules/request_matching.h"
#include "rules/rule_set.h"
#include "xml/xml_node.h"
#include "xml/xml_reader.h"

namespace {

// The first bytes of an input choose the rules, the rest the traffic, so that
// neither runs the other dry.
constexpr std::size_t kRuleBytes = 64;

struct AttributeChoice {
  const char* name;
  std::vector<const char*> values;
};

// Values that make rules act, so that every rewriting path is reached; now and
// then a short random text takes their place.
const std::vector<AttributeChoice> kConditionAttributes = {
    {"header", {"content-type", "host", "id"}}, {"prefix", {"get", "/x", "x", "<"}},
    {"suffix", {".js", "x", "html;"}},          {"contains", {"x", "div", "/", "google."}},
    {"fromrequest", {"google.", "x"}},
};
const std::vector<AttributeChoice> kContentAttributes = {
    {"action", {"comment", "remove", "replace:b", "replace:", "Replace:Strong", "replace:ab  "}},
    {"contains", {"x", "div", "window.open", "referer", "<", "/", "ab"}},
    {"tag", {"div", "<div", "a", "font", "p", "<"}},
    {"attribname", {"id", "class", "x"}},
    {"attribvalue", {"x", "*", "x*", "*x", "ad*"}},
    {"alternatetag", {"a", "font", "div"}},
    {"return", {"0", "1"}},
};
const char* const kKinds[] = {"allow", "request", "response", "content"};

// Markup and header fragments mixed with raw bytes, so that elements open, close
// and nest often.
const std::vector<const char*> kFragments = {"<div ",
                                             "<div>",
                                             "</div>",
                                             "<DIV id=",
                                             "id=",
                                             "class=",
                                             "x",
                                             "ad1",
                                             "\"",
                                             "'",
                                             ">",
                                             "<a id=x>",
                                             "<font ",
                                             "</font>",
                                             "<p>",
                                             "</p>",
                                             "=",
                                             " ",
                                             "\r\n",
                                             "GET /x.js HTTP/1.1\r\n",
                                             "window.open",
                                             "referer",
                                             "Content-Type: text/html",
                                             "\xff",
                                             "<",
                                             "ab"};

std::unique_ptr<CXmlNode> LoadBuiltInConfig() {
  auto document = std::make_unique<CXmlNode>(CPooledString("__root__"));
  LoadXmlText(kDefaultConfigXml(), false, *document);
  return document;
}

const CXmlNode& BuiltInConfig() {
  static const std::unique_ptr<CXmlNode> document = LoadBuiltInConfig();
  return *document;
}

void AddAttributes(FuzzedDataProvider& input, const std::vector<AttributeChoice>& choices,
                   CXmlNode& element) {
  for (const AttributeChoice& choice : choices) {
    if (!input.ConsumeBool()) continue;
    const std::string value =
        input.ConsumeIntegralInRange(0, 7) == 0
            ? input.ConsumeRandomLengthString(4)
            : choice.values[input.ConsumeIntegralInRange<std::size_t>(0, choice.values.size() - 1)];
    element.AddAttribute(choice.name, CPooledString(value));
  }
}

void AddConditions(FuzzedDataProvider& input, CXmlNode& parent, int depth) {
  const int count = input.ConsumeIntegralInRange(1, 3);
  for (int i = 0; i < count; ++i) {
    const int kind = input.ConsumeIntegralInRange(0, 3);
    CXmlNode* condition = parent.AddChild(kKinds[kind]);
    AddAttributes(input, kind == 3 ? kContentAttributes : kConditionAttributes, *condition);
    if (depth < 2 && input.ConsumeIntegralInRange(0, 3) == 0)
      AddConditions(input, *condition, depth + 1);
  }
}

std::unique_ptr<CXmlNode> RandomConfig(FuzzedDataProvider& input) {
  auto document = std::make_unique<CXmlNode>(CPooledString("__root__"));
  CXmlNode* root = document->AddChild("lumbra");
  root->AddChild("enabled")->SetText("yes");
  CXmlNode* rules = root->AddChild("filterrules");
  const int count = input.ConsumeIntegralInRange(1, 2);
  for (int r = 0; r < count; ++r) {
    CXmlNode* rule = rules->AddChild("filterrule");
    rule->AddChild("enabled")->SetText("yes");
    AddConditions(input, *rule, 0);
  }
  return document;
}

std::string MakeTraffic(FuzzedDataProvider& input, std::size_t maxParts) {
  std::string traffic;
  for (std::size_t part = 0; part < maxParts && input.remaining_bytes() > 0; ++part) {
    if (input.ConsumeBool())
      traffic += kFragments[input.ConsumeIntegralInRange<std::size_t>(0, kFragments.size() - 1)];
    else
      traffic += input.ConsumeRandomLengthString(8);
  }
  return traffic;
}

// One piece in a buffer of exactly its length and the 0 byte after it.
void FilterPiece(const std::string& bytes, bool startsMessage, bool isRequest,
                 const std::string& url, const CRuleSet& rules, CFilterState& state) {
  const std::size_t length = bytes.size();
  auto buffer = std::make_unique<char[]>(length + 1);
  std::memcpy(buffer.get(), bytes.data(), length);
  buffer[length] = '\0';
  const bool allowed =
      isRequest && startsMessage && IsRequestAllowed(buffer.get(), length, url, rules, state);
  const PieceFlags flags{
      .startsMessage = startsMessage, .isRequest = isRequest, .allowed = allowed};
  FilterTraffic(buffer.get(), length, flags, url, rules, state);
  if (buffer[length] != '\0') std::abort();
  for (std::size_t i = 0; i < length; ++i)
    if (buffer[i] == '\0' && bytes[i] != '\0') std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::size_t ruleBytes = std::min(size, kRuleBytes);
  FuzzedDataProvider rulesInput(data, ruleBytes);
  FuzzedDataProvider trafficInput(data + ruleBytes, size - ruleBytes);
  const bool builtIn = rulesInput.ConsumeIntegralInRange(0, 3) == 0;
  const std::unique_ptr<CXmlNode> random = builtIn ? nullptr : RandomConfig(rulesInput);
  const CRuleSet rules(builtIn ? BuiltInConfig() : *random);
  CFilterState state;
  const bool isRequest = trafficInput.ConsumeIntegralInRange(0, 3) == 0;
  const std::string url = trafficInput.ConsumeBool() ? "http://www.google.com/search?q=x"
                                                     : trafficInput.ConsumeRandomLengthString(40);
  const int pieces = trafficInput.ConsumeIntegralInRange(1, 3);
  for (int i = 0; i < pieces; ++i) {
    const std::string bytes = MakeTraffic(trafficInput, i + 1 == pieces ? 2048 : 32);
    FilterPiece(bytes, !isRequest || i == 0, isRequest, url, rules, state);
  }
  return 0;
}
