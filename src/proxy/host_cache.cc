// The process-wide cache from host text to IPv4 address, and host resolution.
#include "proxy/host_cache.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>

#include <mutex>

std::optional<in_addr> CHostCache::Find(const std::string& host) const {
  std::shared_lock lock(m_mutex);
  const auto entry = m_entries.find(host);
  if (entry == m_entries.end()) return std::nullopt;
  return entry->second;
}

void CHostCache::Add(const std::string& host, in_addr address) {
  std::unique_lock lock(m_mutex);
  if (m_entries.size() >= kMaxEntries) return;
  m_entries.emplace(host, address);
}

CHostCache& GetHostCache() {
  static CHostCache cache;
  return cache;
}

std::optional<in_addr> LookupHostName(const std::string& host) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* answer = nullptr;
  if (::getaddrinfo(host.c_str(), nullptr, &hints, &answer) != 0 || answer == nullptr)
    return std::nullopt;
  const in_addr address = reinterpret_cast<const sockaddr_in*>(answer->ai_addr)->sin_addr;
  ::freeaddrinfo(answer);
  return address;
}

std::optional<in_addr> ResolveHost(CHostCache& cache, const std::string& host, HostLookup lookup) {
  // A text with a NUL inside would be resolved as its part before the NUL.
  if (host.empty() || host.find('\0') != std::string::npos) return std::nullopt;
  if (const auto cached = cache.Find(host)) return cached;
  in_addr address{};
  if (::inet_pton(AF_INET, host.c_str(), &address) != 1) {
    const auto found = lookup(host);
    if (!found) return std::nullopt;
    address = *found;
  }
  cache.Add(host, address);
  return address;
}

std::optional<in_addr> ResolveHost(const std::string& host) {
  return ResolveHost(GetHostCache(), host, LookupHostName);
}
