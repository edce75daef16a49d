// The request relay's table of its open server connections.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "proxy/upstream_state.h"

// Server connections of one browser connection by host text (compared byte for
// byte) and port: requests to one host on two ports never share a connection.
// Used only by its request relay's thread.
class CUpstreamTable {
 public:
  // Enters `state` under its host and port, keeping an existing entry; ignores an
  // empty host or state.
  void Register(const std::shared_ptr<CUpstreamState>& state);
  // Enters `state` in place of an existing entry. The connection it replaces
  // stays open, since its response relay may still be sending to the browser,
  // and is shut down with the others by CloseAll.
  void Replace(const std::shared_ptr<CUpstreamState>& state);
  std::shared_ptr<CUpstreamState> Find(const std::string& host, int port) const;
  // Shuts down every server connection, which ends their response relays, and
  // empties the table.
  void CloseAll();
  std::size_t GetSize() const { return m_entries.size(); }

 private:
  using Key = std::pair<std::string, int>;
  std::map<Key, std::shared_ptr<CUpstreamState>> m_entries;
  std::vector<std::shared_ptr<CUpstreamState>> m_replaced;
};
