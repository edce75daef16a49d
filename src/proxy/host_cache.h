// The process-wide cache from host text to IPv4 address, and host resolution.
#pragma once

#include <netinet/in.h>

#include <cstddef>
#include <optional>
#include <shared_mutex>
#include <string>
#include <unordered_map>

// Host texts, compared byte for byte, to the address they resolved to. Entries
// are never removed; lookups run concurrently, insertions exclude them.
class CHostCache {
 public:
  // Past this many entries nothing more is added, so that a run over millions of
  // distinct hosts keeps memory flat; further hosts are simply resolved each time.
  static constexpr std::size_t kMaxEntries = 10000;

  std::optional<in_addr> Find(const std::string& host) const;
  // Keeps an existing entry for the same host.
  void Add(const std::string& host, in_addr address);

 private:
  mutable std::shared_mutex m_mutex;
  std::unordered_map<std::string, in_addr> m_entries;
};

// The one cache of the process.
CHostCache& GetHostCache();

// A name lookup: the first IPv4 address of a host name, or none.
using HostLookup = std::optional<in_addr> (*)(const std::string& host);

// Resolves a name with getaddrinfo (IPv4 only, safe to call from many threads).
std::optional<in_addr> LookupHostName(const std::string& host);

// The address of a host text: from the cache, else as a dotted IPv4 address, else
// from `lookup`; a found address is cached, a failure never is.
std::optional<in_addr> ResolveHost(CHostCache& cache, const std::string& host, HostLookup lookup);
// The same with the process-wide cache and LookupHostName.
std::optional<in_addr> ResolveHost(const std::string& host);
