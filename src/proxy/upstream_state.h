// CUpstreamState: one server connection of a browser connection.
#pragma once

#include <atomic>
#include <chrono>
#include <string>

#include "proxy/socket.h"
#include "proxy/time_limits.h"

// Shared (std::shared_ptr) by the browser connection's request loop, which sends
// requests on it, and the response relay that reads the server's answers.
class CUpstreamState {
 public:
  CUpstreamState(std::string host, int port, CSocket server);
  CUpstreamState(const CUpstreamState&) = delete;
  CUpstreamState& operator=(const CUpstreamState&) = delete;

  const std::string& GetHost() const { return m_host; }
  int GetPort() const { return m_port; }
  const CSocket& GetServerSocket() const { return m_server; }

  // From now on the connection carries a tunnel (CONNECT or a 101 upgrade): its
  // bytes pass untouched in both directions.
  void SetTunnel() { m_tunnel.store(true, std::memory_order_release); }
  bool IsTunnel() const { return m_tunnel.load(std::memory_order_acquire); }

  // Bytes moved to or from the server: a connection idle past its limit only
  // when neither its relay nor the request loop moved any for that long.
  void NoteActivity() { m_lastActivity.store(SteadyMilliseconds(), std::memory_order_relaxed); }
  bool IdleFor(std::chrono::milliseconds limit) const {
    return SteadyMilliseconds() - m_lastActivity.load(std::memory_order_relaxed) >= limit.count();
  }
  long long GetLastActivity() const { return m_lastActivity.load(std::memory_order_relaxed); }

  // Whether the response relay has left while the server owed nothing (see
  // CAnswerOrder::ParkRelay). Read and changed only under that order's lock.
  bool IsRelayParked() const { return m_relayParked; }
  void SetRelayParked(bool parked) { m_relayParked = parked; }

  // The server closed the connection or broke its framing: no request is sent on
  // it any more, a new one is opened instead.
  void SetEnded() { m_ended.store(true, std::memory_order_release); }
  bool IsEnded() const { return m_ended.load(std::memory_order_acquire); }

 private:
  const std::string m_host;
  const int m_port;
  const CSocket m_server;
  std::atomic<bool> m_tunnel{false};
  std::atomic<bool> m_ended{false};
  bool m_relayParked = false;
  std::atomic<long long> m_lastActivity{SteadyMilliseconds()};
};
