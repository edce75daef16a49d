// Start-up summary of the configuration.
#include "app/config_summary.h"

#include "config/config_store.h"
#include "core/ascii.h"
#include "xml/xml_node.h"

namespace {

std::string OnOff(bool on) { return on ? "on" : "off"; }

std::string OrNone(const std::string& text) { return text.empty() ? "(none)" : text; }

bool IsRuleEnabled(const CXmlNode& rule) {
  const CXmlNode* enabled = rule.FindChild("enabled");
  return enabled != nullptr && !enabled->GetText().IsEmpty() &&
         EqualsNoCase(enabled->GetText().View(), "yes");
}

std::string DescribeRules(const CXmlNode& document) {
  int count = GetRuleCount(document);
  std::string text = "Filter rules: " + std::to_string(count) + "\n";
  for (int index = 0; index < count; ++index) {
    CXmlNode* rule = nullptr;
    GetRule(document, index, rule);
    if (rule == nullptr) continue;
    std::string name = rule->GetAttribute("name").ToString();
    text += "  " + (name.empty() ? std::string("(unnamed)") : name) + ": " +
            (IsRuleEnabled(*rule) ? "enabled" : "disabled") + "\n";
  }
  return text;
}

}  // namespace

std::string DescribeConfig(const std::string& path, const CXmlNode& document) {
  std::string text = "Configuration: " + path + "\n";
  text += "Filtering: " + OnOff(IsFilterEnabled(document)) + "\n";
  text += "Proxy port: " + OrNone(GetProxyPort(document)) + "\n";
  text += "Corporate proxy: " + OnOff(IsCorporateProxyEnabled(document)) + " (" +
          OrNone(GetCorporateProxyUrl(document)) + ":" + OrNone(GetCorporateProxyPort(document)) +
          ")\n";
  return text + DescribeRules(document);
}
