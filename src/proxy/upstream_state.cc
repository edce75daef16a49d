// CUpstreamState: what the request relay and the response relay of one server
// connection share.
#include "proxy/upstream_state.h"

#include <utility>

CUpstreamState::CUpstreamState(std::string host, int port, CSocket server, bool tunnel)
    : m_host(std::move(host)), m_port(port), m_server(std::move(server)), m_tunnel(tunnel) {}

void CUpstreamState::NoteRequest(std::string_view url, bool allowed) {
  if (!url.empty()) {
    std::lock_guard lock(m_urlLock);
    m_lastUrl.assign(url);
    m_urlGeneration.fetch_add(1, std::memory_order_release);
  }
  m_allowed.store(allowed, std::memory_order_release);
}

std::string CUpstreamState::GetLastUrl() const {
  std::lock_guard lock(m_urlLock);
  return m_lastUrl;
}

void CUpstreamState::RefreshLastUrl(std::string& url, std::uint64_t& seen) const {
  if (m_urlGeneration.load(std::memory_order_acquire) == seen) return;
  std::lock_guard lock(m_urlLock);
  url.assign(m_lastUrl);
  seen = m_urlGeneration.load(std::memory_order_relaxed);
}
