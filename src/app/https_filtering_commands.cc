// The options controller's HTTPS filtering commands: the switch, the chosen
// sites, the certificate in the browser stores and the authority itself.
#include <algorithm>
#include <optional>
#include <string>

#include "app/options_controller.h"
#include "config/config_store.h"
#include "config/https_filtering_config.h"

namespace {

// Far beyond any list a person keeps; a longer one is a mistake.
constexpr std::size_t kMaxSites = 1000;
constexpr std::size_t kMaxSiteLength = 300;
constexpr char kTooManySites[] = "The list can hold at most 1000 sites.";

std::string BadSiteMessage(const std::string& text) {
  const std::string shown = text.size() > 60 ? text.substr(0, 60) + "..." : text;
  return "\"" + shown +
         "\" is not a site: give a domain name (like example.com, which "
         "covers its subdomains) or an IP address.";
}

}  // namespace

CActionResult COptionsController::SetHttpsFilteringEnabled(bool enabled) {
  std::lock_guard<std::mutex> guard(m_lock);
  if (m_exited) return {false, {}};
  CHttpsFilteringSettings settings = GetHttpsFiltering(m_document);
  settings.enabled = enabled;
  if (!SetHttpsFiltering(m_document, settings)) return {false, {}};
  return ApplyHttpsFilteringChange();
}

CActionResult COptionsController::SetHttpsSites(const std::vector<std::string>& sites) {
  if (sites.size() > kMaxSites) return {false, kTooManySites};
  std::vector<std::string> chosen;
  for (const std::string& text : sites) {
    const std::optional<std::string> site =
        text.size() <= kMaxSiteLength ? NormalizeHttpsSite(text) : std::nullopt;
    if (!site) return {false, BadSiteMessage(text)};
    if (std::find(chosen.begin(), chosen.end(), *site) == chosen.end()) chosen.push_back(*site);
  }
  std::lock_guard<std::mutex> guard(m_lock);
  if (m_exited) return {false, {}};
  CHttpsFilteringSettings settings = GetHttpsFiltering(m_document);
  settings.sites = std::move(chosen);
  if (!SetHttpsFiltering(m_document, settings)) return {false, {}};
  return ApplyHttpsFilteringChange();
}

CActionResult COptionsController::ApplyHttpsFilteringChange() {
  SaveConfig(m_document);
  const CHttpsFilteringSettings settings = GetHttpsFiltering(m_document);
  m_https.Configure(settings);
  if (!settings.enabled) return {};
  const CAuthorityStatus authority = m_https.GetAuthorityStatus();
  if (authority.state == AuthorityState::kReady) return {};
  return {false, "HTTPS filtering stays inactive: the certificate authority cannot be used (" +
                     authority.reason + ")."};
}

CActionResult COptionsController::InstallHttpsCertificate() { return m_https.InstallInBrowsers(); }

CActionResult COptionsController::RemoveHttpsCertificate() { return m_https.RemoveFromBrowsers(); }

CActionResult COptionsController::RemoveHttpsAuthority() {
  {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_exited) return {false, {}};
    // Off first, so that no reload makes a new authority behind the user's back.
    CHttpsFilteringSettings settings = GetHttpsFiltering(m_document);
    if (settings.enabled) {
      settings.enabled = false;
      if (SetHttpsFiltering(m_document, settings)) SaveConfig(m_document);
      m_https.Configure(settings);
    }
  }
  return m_https.RemoveAuthority();
}

std::string COptionsController::GetHttpsCertificatePem() const {
  return m_https.GetCertificatePem();
}
