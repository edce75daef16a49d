// Which CONNECT targets are inspected: the sites the user chose, minus the hosts
// that turned out unable to be inspected during this run.
#pragma once

#include <mutex>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

// The chosen sites, as the configuration's settings normalised them: a domain
// covers itself and its subdomains, an address only itself.
class CChosenSites {
 public:
  CChosenSites() = default;
  explicit CChosenSites(std::vector<std::string> sites) : m_sites(std::move(sites)) {}

  // `host` as a CONNECT names it: any case, maybe a trailing dot or brackets.
  bool Covers(std::string_view host) const;

 private:
  std::vector<std::string> m_sites;
};

// Hosts passed through untouched for the rest of the run: their server could not
// be verified, asked for a client certificate, or the browser refused Lumbra's
// certificate for them. Bounded; safe from any thread.
class CPassThroughHosts {
 public:
  void Remember(std::string_view host);
  bool Holds(std::string_view host) const;

 private:
  static constexpr std::size_t kMaxHosts = 10'000;
  mutable std::mutex m_mutex;
  std::unordered_set<std::string> m_hosts;
};
