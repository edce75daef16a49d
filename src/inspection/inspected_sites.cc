// Which CONNECT targets are inspected.
#include "inspection/inspected_sites.h"

#include "core/address_text.h"
#include "core/ascii.h"

bool CChosenSites::Covers(std::string_view host) const {
  const std::string canonical = CanonicalHost(host);
  for (const std::string& site : m_sites) {
    if (canonical == site) return true;
    // A subdomain: the site after a dot, never a look-alike ("notexample.com").
    if (canonical.size() > site.size() && canonical.ends_with(site) &&
        canonical[canonical.size() - site.size() - 1] == '.' && !IsIpv4Address(site) &&
        !IsIpv6Address(site))
      return true;
  }
  return false;
}

void CPassThroughHosts::Remember(std::string_view host) {
  const std::lock_guard lock(m_mutex);
  // A run that meets more hosts than the bound starts over rather than grow.
  if (m_hosts.size() >= kMaxHosts) m_hosts.clear();
  m_hosts.insert(CanonicalHost(host));
}

bool CPassThroughHosts::Holds(std::string_view host) const {
  const std::lock_guard lock(m_mutex);
  return m_hosts.contains(CanonicalHost(host));
}
