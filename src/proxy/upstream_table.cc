// The request relay's table of its open server connections.
#include "proxy/upstream_table.h"

#include <utility>

void CUpstreamTable::Register(const std::shared_ptr<CUpstreamState>& state) {
  if (!state || state->GetHost().empty()) return;
  m_entries.try_emplace(Key(state->GetHost(), state->GetPort()), state);
}

void CUpstreamTable::Replace(const std::shared_ptr<CUpstreamState>& state) {
  if (!state || state->GetHost().empty()) return;
  auto& entry = m_entries[Key(state->GetHost(), state->GetPort())];
  if (entry) m_replaced.push_back(std::move(entry));
  entry = state;
}

std::shared_ptr<CUpstreamState> CUpstreamTable::Find(const std::string& host, int port) const {
  if (host.empty()) return nullptr;
  const auto entry = m_entries.find(Key(host, port));
  return entry == m_entries.end() ? nullptr : entry->second;
}

void CUpstreamTable::CloseAll() {
  for (const auto& [key, state] : m_entries)
    if (state) state->GetServerSocket().Shutdown();
  for (const auto& state : m_replaced) state->GetServerSocket().Shutdown();
  m_entries.clear();
  m_replaced.clear();
}
