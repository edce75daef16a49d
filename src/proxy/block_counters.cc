// Counters of blocked requests since start, for the control panel.
#include "proxy/block_counters.h"

#include <algorithm>

#include "core/ascii.h"

void CBlockCounters::Count(BlockedBy by, std::string_view host) {
  // "Example.com." and "example.com" are one host.
  if (host.ends_with('.')) host.remove_suffix(1);
  std::string name = ToLowerAscii(host);
  std::lock_guard<std::mutex> hold(m_lock);
  ++(by == BlockedBy::kLists ? m_byLists : m_byRules);
  if (name.empty()) return;
  const auto found = m_hosts.find(name);
  if (found != m_hosts.end()) {
    ++found->second;
  } else if (m_hosts.size() < kMaxHosts) {
    m_hosts.emplace(std::move(name), 1);
  }
}

CBlockCountsView CBlockCounters::GetView(std::size_t topCount) const {
  CBlockCountsView view;
  std::lock_guard<std::mutex> hold(m_lock);
  view.byRules = m_byRules;
  view.byLists = m_byLists;
  for (const auto& [host, count] : m_hosts) view.topHosts.push_back({host, count});
  const auto moreFirst = [](const CBlockedHost& a, const CBlockedHost& b) {
    return a.count != b.count ? a.count > b.count : a.host < b.host;
  };
  const std::size_t kept = std::min(topCount, view.topHosts.size());
  std::partial_sort(view.topHosts.begin(), view.topHosts.begin() + kept, view.topHosts.end(),
                    moreFirst);
  view.topHosts.resize(kept);
  return view;
}

CBlockCounters& GetBlockCounters() {
  static CBlockCounters counters;
  return counters;
}
