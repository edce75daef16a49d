// The browser connection's table of its open server connections.
#include "proxy/upstream_table.h"

void CUpstreamTable::Register(const std::shared_ptr<CUpstreamState>& state) {
  if (!state || state->GetHost().empty()) return;
  auto& entry = m_entries[Key(state->GetHost(), state->GetPort())];
  if (!entry || entry->IsEnded()) entry = state;
}

std::shared_ptr<CUpstreamState> CUpstreamTable::Find(const std::string& host, int port) {
  if (host.empty()) return nullptr;
  const auto entry = m_entries.find(Key(host, port));
  if (entry == m_entries.end()) return nullptr;
  if (!entry->second->IsEnded()) return entry->second;
  m_entries.erase(entry);
  return nullptr;
}

void CUpstreamTable::CloseAll() {
  for (const auto& [key, state] : m_entries) state->GetServerSocket().Shutdown();
  m_entries.clear();
}
