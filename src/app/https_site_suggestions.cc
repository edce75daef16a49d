// The sites offered to the user as a start for HTTPS filtering.
#include "app/https_site_suggestions.h"

#include <algorithm>
#include <optional>

#include "config/config_store.h"
#include "config/https_filtering_config.h"
#include "core/ascii.h"
#include "inspection/inspected_sites.h"
#include "xml/xml_node.h"

namespace {

// The host part of a `request contains` text, as a site entry; none when the
// text names no host.
std::optional<std::string> SiteOfRequestText(std::string text) {
  text = text.substr(0, text.find('/'));
  if (text.starts_with("www.")) text.erase(0, 4);
  if (text.ends_with('.')) text += "com";
  if (text.find('.') == std::string::npos) return std::nullopt;
  return NormalizeHttpsSite(text);
}

void AddSitesOfRule(const CXmlNode& rule, std::vector<std::string>& sites) {
  for (int position = 0; position < rule.GetChildCount(); ++position) {
    const CXmlNode* condition = rule.GetChild(position);
    if (!EqualsNoCase(condition->GetName().View(), "request") || condition->GetChildCount() == 0)
      continue;
    const std::optional<std::string> site =
        SiteOfRequestText(std::string(condition->GetAttribute("contains").View()));
    if (site && std::find(sites.begin(), sites.end(), *site) == sites.end()) sites.push_back(*site);
  }
}

}  // namespace

std::vector<std::string> SuggestHttpsSites(const CXmlNode& document) {
  std::vector<std::string> sites;
  for (int index = 0; index < GetRuleCount(document); ++index) {
    CXmlNode* rule = nullptr;
    GetRule(document, index, rule);
    if (rule != nullptr) AddSitesOfRule(*rule, sites);
  }
  std::vector<std::string> suggestions;
  for (const std::string& site : sites) {
    const bool covered = std::any_of(sites.begin(), sites.end(), [&](const std::string& other) {
      return other != site && CChosenSites({other}).Covers(site);
    });
    if (!covered) suggestions.push_back(site);
  }
  return suggestions;
}
