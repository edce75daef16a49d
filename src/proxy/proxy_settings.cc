// The settings a proxy worker reads once from its configuration copy.
#include "proxy/proxy_settings.h"

#include <cstdlib>
#include <utility>

#include "config/config_store.h"

CProxySettings ReadProxySettings(const CXmlNode& document) {
  CProxySettings settings;
  settings.filterActive = IsFilterEnabled(document) && HasEnabledRule(document);
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

long ParsePortText(std::string_view text) {
  const std::string copy(text);
  // strtoll clamps where atol's overflow is undefined; beyond a port's range is no port.
  const long long value = std::strtoll(copy.c_str(), nullptr, 10);
  return value < 0 || value > 65535 ? 0 : static_cast<long>(value);
}
