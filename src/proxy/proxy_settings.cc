// The settings a proxy worker reads once from its configuration copy.
#include "proxy/proxy_settings.h"

#include <utility>

#include "config/config_store.h"
#include "proxy/port_text.h"

CProxySettings ReadProxySettings(const CXmlNode& document) {
  CProxySettings settings;
  settings.listenPort = static_cast<int>(ParsePortText(GetProxyPort(document)));
  settings.filterEnabled = IsFilterEnabled(document);
  settings.filterActive = settings.filterEnabled && HasEnabledRule(document);
  settings.allowLocalNetwork = IsLocalNetworkAllowed(document);
  if (!IsCorporateProxyEnabled(document)) return settings;
  std::string url = GetCorporateProxyUrl(document);
  const std::string port = GetCorporateProxyPort(document);
  if (url.empty() || port.empty()) return settings;
  settings.corporate = true;
  settings.corporateHost = std::move(url);
  settings.corporatePort = static_cast<int>(ParsePortText(port));
  return settings;
}
