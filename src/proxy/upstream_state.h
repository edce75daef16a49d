// CUpstreamState: what the request relay and the response relay of one server
// connection share.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

#include "proxy/socket.h"

// Created for each server connection and shared (std::shared_ptr) by the request
// relay that sends on it and the response relay that reads from it. The request
// relay notes each request it sends; the response relay reads the last one
// between its receives, so a reading may be one request late.
class CUpstreamState {
 public:
  // `tunnel`: the connection carries a CONNECT tunnel from the start.
  CUpstreamState(std::string host, int port, CSocket server, bool tunnel = false);
  CUpstreamState(const CUpstreamState&) = delete;
  CUpstreamState& operator=(const CUpstreamState&) = delete;

  const std::string& GetHost() const { return m_host; }
  int GetPort() const { return m_port; }
  const CSocket& GetServerSocket() const { return m_server; }

  // A request sent on the connection: its request-target (an empty one keeps the
  // last) and whether a rule exempts it, and with it its response, from filtering.
  void NoteRequest(std::string_view url, bool allowed);
  bool IsAllowed() const { return m_allowed.load(std::memory_order_acquire); }
  std::string GetLastUrl() const;
  // Copies the last URL into `url` when it changed since `seen`, which it updates;
  // the response relay calls this for every piece without allocating.
  void RefreshLastUrl(std::string& url, std::uint64_t& seen) const;

  // From now on the connection carries an established CONNECT tunnel: its bytes
  // pass untouched in both directions.
  void SetTunnel() { m_tunnel.store(true, std::memory_order_release); }
  bool IsTunnel() const { return m_tunnel.load(std::memory_order_acquire); }

 private:
  const std::string m_host;
  const int m_port;
  const CSocket m_server;
  std::atomic<bool> m_allowed{false};
  std::atomic<bool> m_tunnel;
  // Only the last URL is ever read, so only the last is kept: a long keep-alive
  // connection keeps a flat footprint.
  mutable std::mutex m_urlLock;
  std::string m_lastUrl;
  std::atomic<std::uint64_t> m_urlGeneration{0};
};
