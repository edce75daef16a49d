// The browser connection's table of its open server connections.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <utility>

#include "proxy/upstream_state.h"

// Server connections of one browser connection by host text (compared byte for
// byte) and port: requests to one host on two ports never share a connection.
// Used only by its browser connection's thread.
class CUpstreamTable {
 public:
  // Enters `state` under its host and port, in place of an entry whose server
  // connection has ended; ignores an empty host or state.
  void Register(const std::shared_ptr<CUpstreamState>& state);
  // The open connection to `host`:`port`; one that has ended is dropped.
  std::shared_ptr<CUpstreamState> Find(const std::string& host, int port);
  // With `maximum` connections or more open, shuts down the one used least
  // recently among those `owesAnswer` says owe the browser nothing, and drops it.
  template <typename OwesAnswer>
  void MakeRoom(std::size_t maximum, OwesAnswer owesAnswer);
  // Shuts down every server connection, which ends their response relays, and
  // empties the table.
  void CloseAll();
  std::size_t GetSize() const { return m_entries.size(); }

 private:
  using Key = std::pair<std::string, int>;
  std::map<Key, std::shared_ptr<CUpstreamState>> m_entries;
};

template <typename OwesAnswer>
void CUpstreamTable::MakeRoom(std::size_t maximum, OwesAnswer owesAnswer) {
  if (m_entries.size() < maximum) return;
  auto oldest = m_entries.end();
  for (auto entry = m_entries.begin(); entry != m_entries.end(); ++entry) {
    if (owesAnswer(*entry->second)) continue;
    if (oldest == m_entries.end() ||
        entry->second->GetLastActivity() < oldest->second->GetLastActivity())
      oldest = entry;
  }
  if (oldest == m_entries.end()) return;
  oldest->second->GetServerSocket().Shutdown();
  m_entries.erase(oldest);
}
