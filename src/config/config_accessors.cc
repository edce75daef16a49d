// Accessors of the configuration document: settings read and changed in place.
#include <cstdlib>

#include "config/config_store.h"
#include "core/ascii.h"
#include "core/pooled_string.h"
#include "xml/xml_node.h"

namespace {

CXmlNode* FindRoot(const CXmlNode& document) {
  if (document.GetChildCount() == 0) return nullptr;
  return document.FindChild("lumbra");
}

CXmlNode* FindInRoot(const CXmlNode& document, const char* name) {
  CXmlNode* root = FindRoot(document);
  return root != nullptr ? root->FindChild(name) : nullptr;
}

// An empty text is never "yes".
bool IsYes(const CXmlNode* node) {
  return node != nullptr && !node->GetText().IsEmpty() &&
         EqualsNoCase(node->GetText().View(), "yes");
}

std::string GetTextOf(const CXmlNode* node) {
  return node != nullptr ? node->GetText().ToString() : std::string();
}

// Sets the first "enabled" child of `parent`, appending one when there is none.
void SetEnabledChild(CXmlNode* parent, bool enabled) {
  if (parent == nullptr) return;
  CXmlNode* child = parent->FindChild("enabled");
  if (child == nullptr) child = parent->AddChild(CPooledString("enabled"));
  if (child == nullptr) return;
  child->SetText(CPooledString(enabled ? "yes" : "no"));
}

}  // namespace

bool IsFilterEnabled(const CXmlNode& document) { return IsYes(FindInRoot(document, "enabled")); }

void EnableFilter(CXmlNode& document) { SetEnabledChild(FindRoot(document), true); }

void DisableFilter(CXmlNode& document) { SetEnabledChild(FindRoot(document), false); }

std::string GetProxyPort(const CXmlNode& document) {
  return GetTextOf(FindInRoot(document, "proxyport"));
}

void SetProxyPort(CXmlNode& document, const std::string& port) {
  CXmlNode* proxyPort = FindInRoot(document, "proxyport");
  if (proxyPort != nullptr) proxyPort->SetText(CPooledString(port));
}

bool IsCorporateProxyEnabled(const CXmlNode& document) {
  CXmlNode* proxy = FindInRoot(document, "corporateproxy");
  return proxy != nullptr && IsYes(proxy->FindChild("enabled"));
}

void EnableCorporateProxy(CXmlNode& document) {
  SetEnabledChild(FindInRoot(document, "corporateproxy"), true);
}

void DisableCorporateProxy(CXmlNode& document) {
  SetEnabledChild(FindInRoot(document, "corporateproxy"), false);
}

std::string GetCorporateProxyUrl(const CXmlNode& document) {
  CXmlNode* proxy = FindInRoot(document, "corporateproxy");
  return proxy != nullptr ? proxy->GetAttribute("url").ToString() : std::string();
}

std::string GetCorporateProxyPort(const CXmlNode& document) {
  CXmlNode* proxy = FindInRoot(document, "corporateproxy");
  return proxy != nullptr ? proxy->GetAttribute("port").ToString() : std::string();
}

void SetCorporateProxy(CXmlNode& document, const std::string& url, const std::string& port) {
  CXmlNode* proxy = FindInRoot(document, "corporateproxy");
  if (proxy == nullptr) return;
  proxy->SetAttribute(CPooledString("url"), CPooledString(url));
  proxy->SetAttribute(CPooledString("port"), CPooledString(port));
}

bool IsLocalNetworkAllowed(const CXmlNode& document) {
  return IsYes(FindInRoot(document, "allowlan"));
}

void SetLocalNetworkAllowed(CXmlNode& document, bool allowed) {
  CXmlNode* root = FindRoot(document);
  if (root == nullptr) return;
  CXmlNode* allowLan = root->FindChild("allowlan");
  if (allowLan == nullptr && allowed) allowLan = root->AddChild(CPooledString("allowlan"));
  if (allowLan != nullptr) allowLan->SetText(CPooledString(allowed ? "yes" : "no"));
}

CXmlNode* GetRulesNode(const CXmlNode& document) { return FindInRoot(document, "filterrules"); }

int GetRuleCount(const CXmlNode& document) {
  CXmlNode* rules = GetRulesNode(document);
  return rules != nullptr ? rules->CountChildren("filterrule") : 0;
}

void GetRule(const CXmlNode& document, int index, CXmlNode*& rule) {
  if (index < 0 || index >= GetRuleCount(document)) return;
  CXmlNode* rules = FindInRoot(document, "filterrules");
  if (rules != nullptr) rule = rules->GetChild(index);
}

bool HasEnabledRule(const CXmlNode& document) {
  CXmlNode* rules = FindInRoot(document, "filterrules");
  if (rules == nullptr) return false;
  int count = rules->CountChildren("filterrule");
  for (int index = 0; index < count; ++index) {
    CXmlNode* rule = rules->GetChild(index);
    if (rule != nullptr && IsYes(rule->FindChild("enabled"))) return true;
  }
  return false;
}

long GetConfigVersion(const CXmlNode& document) {
  CXmlNode* version = FindInRoot(document, "version");
  if (version == nullptr || version->GetText().IsEmpty()) return 1;
  // strtol reads as atol does (blanks, optional sign, leading digits) but
  // clamps an out-of-range number instead of leaving it undefined.
  return std::strtol(version->GetText().GetText(), nullptr, 10);
}
