// HTTPS filtering in the configuration: read and written in place.
#include "config/https_filtering_config.h"

#include <algorithm>

#include "core/address_text.h"
#include "core/ascii.h"
#include "core/pooled_string.h"
#include "xml/xml_node.h"

namespace {

constexpr char kElement[] = "httpsfiltering";
constexpr char kSiteElement[] = "site";
constexpr std::size_t kMaxNameLength = 253;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool IsDomainName(std::string_view text) {
  if (text.empty() || text.size() > kMaxNameLength) return false;
  std::size_t labelLength = 0;
  for (const char c : text) {
    if (c == '.') {
      if (labelLength == 0) return false;
      labelLength = 0;
      continue;
    }
    const bool allowed = IsDigit(c) || (c >= 'a' && c <= 'z') || c == '-' || c == '_';
    if (!allowed || ++labelLength > 63) return false;
  }
  // A last label of digits alone is no top-level domain: such text is a
  // mistyped address.
  const std::string_view last = text.substr(text.size() - labelLength);
  return labelLength != 0 && !std::all_of(last.begin(), last.end(), IsDigit);
}

}  // namespace

std::optional<std::string> NormalizeHttpsSite(std::string_view text) {
  std::string site = ToLowerAscii(TrimBlanks(text, " \t\r\n"));
  if (site.size() > 2 && site.front() == '[' && site.back() == ']')
    site = site.substr(1, site.size() - 2);
  if (IsIpv6Address(site) || IsIpv4Address(site)) return site;
  if (!site.empty() && site.back() == '.') site.pop_back();
  if (IsDomainName(site)) return site;
  return std::nullopt;
}

CHttpsFilteringSettings GetHttpsFiltering(const CXmlNode& document) {
  CHttpsFilteringSettings settings;
  const CXmlNode* root = document.GetChildCount() != 0 ? document.FindChild("lumbra") : nullptr;
  const CXmlNode* element = root != nullptr ? root->FindChild(kElement) : nullptr;
  if (element == nullptr) return settings;
  settings.enabled = EqualsNoCase(element->GetAttribute("enabled").View(), "yes");
  for (int position = 0; position < element->GetChildCount(); ++position) {
    const CXmlNode* site = element->GetChild(position);
    if (!EqualsNoCase(site->GetName().View(), kSiteElement)) continue;
    const std::optional<std::string> normalized = NormalizeHttpsSite(site->GetText().View());
    if (normalized && std::find(settings.sites.begin(), settings.sites.end(), *normalized) ==
                          settings.sites.end())
      settings.sites.push_back(*normalized);
  }
  return settings;
}

bool SetHttpsFiltering(CXmlNode& document, const CHttpsFilteringSettings& settings) {
  CXmlNode* root = document.GetChildCount() != 0 ? document.FindChild("lumbra") : nullptr;
  if (root == nullptr) return false;
  CXmlNode* element = root->FindChild(kElement);
  if (element == nullptr) element = root->AddChild(CPooledString(kElement));
  if (element == nullptr) return false;
  element->SetAttribute(CPooledString("enabled"), CPooledString(settings.enabled ? "yes" : "no"));
  // Other children the user may have written (comments, notes) stay.
  for (int position = element->GetChildCount() - 1; position >= 0; --position)
    if (EqualsNoCase(element->GetChild(position)->GetName().View(), kSiteElement))
      element->RemoveChild(position);
  for (const std::string& site : settings.sites) {
    CXmlNode* child = element->AddChild(CPooledString(kSiteElement));
    if (child == nullptr) return false;
    child->SetText(CPooledString(site));
  }
  return true;
}
