// Instant filtering: the dialog's state and the rule its answer becomes.
#include "app/instant_filtering.h"

#include "config/config_store.h"
#include "config/url_history.h"
#include "core/percent_encoding.h"
#include "core/pooled_string.h"
#include "rules/filter_rule.h"
#include "xml/xml_node.h"

namespace {

CXmlNode* FindPersonalRules(const CXmlNode& document) {
  const int count = GetRuleCount(document);
  for (int index = 0; index < count; ++index) {
    CXmlNode* node = nullptr;
    GetRule(document, index, node);
    if (CFilterRule(node).GetName().View() == kPersonalRulesName) return node;
  }
  return nullptr;
}

CXmlNode* FindOrAddChild(CXmlNode& parent, const char* name) {
  CXmlNode* child = parent.FindChild(name);
  return child != nullptr ? child : parent.AddChild(CPooledString(name));
}

CXmlNode* AddPersonalRulesElement(CXmlNode& document) {
  CXmlNode* root = document.FindChild("lumbra");
  if (root == nullptr) return nullptr;
  CXmlNode* rules = FindOrAddChild(*root, "filterrules");
  if (rules == nullptr) return nullptr;
  CXmlNode* rule = rules->AddChild(CPooledString("filterrule"));
  if (rule == nullptr) return nullptr;
  rule->SetAttribute(CPooledString("name"), CPooledString(kPersonalRulesName));
  CFilterRule(rule).SetEnabled(true);
  return rule;
}

// The history entry by entry, newest first, without empty entries (the workers
// may shift the list between two reads).
std::vector<std::string> TakeUrlSnapshot(const CUrlHistory& history) {
  std::vector<std::string> urls;
  for (int index = history.Count() - 1; index >= 0; --index) {
    const CHeapString url = history.Get(index);
    if (!url.IsEmpty()) urls.push_back(url.ToString());
  }
  return urls;
}

}  // namespace

bool CInstantFilterDialog::Open(const CUrlHistory& history) {
  if (m_open) return false;
  m_open = true;
  m_urls = TakeUrlSnapshot(history);
  return true;
}

void CInstantFilterDialog::Close() {
  m_open = false;
  m_urls.clear();
}

bool AddPersonalRule(CXmlNode& document, std::string_view url, bool allow) {
  // The dialog's edit field ends a text at its first NUL and holds 1023 characters.
  url = url.substr(0, url.find('\0')).substr(0, kMaxInstantUrlLength);
  if (url.empty() || document.FindChild("lumbra") == nullptr) return false;
  CXmlNode* rule = FindPersonalRules(document);
  if (rule == nullptr) rule = AddPersonalRulesElement(document);
  if (rule == nullptr) return false;
  CXmlNode* entry = rule->AddChild(CPooledString(allow ? "allow" : "request"));
  if (entry == nullptr) return false;
  entry->SetAttribute(CPooledString("contains"), CPooledString(PercentEncodeControls(url)));
  return true;
}
