// CRelayWorker: one direction of a browser connection's traffic, on its own thread.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "proxy/config_snapshot.h"
#include "proxy/connection_scope.h"
#include "proxy/proxy_settings.h"
#include "proxy/socket.h"
#include "proxy/upstream_state.h"
#include "proxy/upstream_table.h"

enum class RelayDirection { kRequest = 0, kResponse = 1 };

// A request relay copies the browser's bytes to the server of the current
// request, switching server connections when a new request names another host
// or port; a response relay copies one server's bytes back to the browser. Both
// run every piece through the filter rules, except inside a CONNECT tunnel.
//
// A worker owns itself: created with new, started with Start, and deleted by its
// own thread when the relay ends. Ending shuts down both of its sockets, which
// ends its partners blocked on them.
class CRelayWorker {
 public:
  CRelayWorker() = default;
  virtual ~CRelayWorker();
  CRelayWorker(const CRelayWorker&) = delete;
  CRelayWorker& operator=(const CRelayWorker&) = delete;

  // Records the sockets, the configuration and the state.
  bool Setup(CSocket input, CSocket output, std::shared_ptr<CConfigSnapshot> config,
             std::shared_ptr<CUpstreamState> state, RelayDirection direction);
  // The host of the connection's first request (request relay only); a later
  // request without a Host line goes to the host before it.
  void SetHost(const std::string& host);
  void SetScope(const CConnectionScope& scope) { m_scope = scope; }

  // Starts the relay thread. On failure the worker is deleted and
  // g_liveRelayCount lowered by 1; false is returned.
  bool Start();

 private:
  static void* ThreadMain(void* worker);
  void Run();
  void RunRequestRelay();
  void RunResponseRelay();
  // Shuts down both sockets (and, for a request relay, every server connection).
  void Teardown();

  // Waits until the input socket has bytes or has ended; false on a failure.
  // Only then is a buffer borrowed, so an idle relay holds none.
  bool WaitForInput() const;
  // Receives into `buffer` and writes a 0 byte after the bytes; the result of the
  // receive. Without `wait`, kNothingWaiting when no byte has arrived.
  ssize_t ReceivePiece(char* buffer, bool wait = true) const;
  // Request relay: handles the start of a new request in `buffer`. False ends the
  // relay; `forward` tells whether the piece goes on to the server.
  bool BeginRequest(char* buffer, std::size_t& length, bool& forward);
  // Runs a piece of the request or response through the rules; false when blocked.
  bool FilterRequestPiece(char* buffer, std::size_t length);
  bool FilterResponsePiece(char* buffer, std::size_t length);
  // Opens a further server connection and starts its response relay; none when
  // the server is out of reach (or is the proxy itself).
  std::shared_ptr<CUpstreamState> OpenUpstream(const std::string& host, int port, bool isConnect);
  void RegisterUpstream(const std::shared_ptr<CUpstreamState>& state);
  std::shared_ptr<CUpstreamState> FindUpstream(const std::string& host, int port, bool create,
                                               bool isConnect);
  void CloseAllUpstreams();

  CSocket m_input;
  CSocket m_output;
  std::shared_ptr<CConfigSnapshot> m_config;
  std::shared_ptr<CUpstreamState> m_state;
  RelayDirection m_direction = RelayDirection::kRequest;
  std::string m_host;
  CUpstreamTable m_upstreams;
  CConnectionScope m_scope;
  CProxySettings m_settings;
  // The request relay's current server connection.
  std::shared_ptr<CUpstreamState> m_current;
  // The URL handed to the filter: the current request's, or for a response the
  // last request sent on its connection.
  std::string m_url;
  std::uint64_t m_urlGeneration = 0;
  // Elements the rules were removing when this worker's last piece ended.
  COpenDepths m_openDepths;
};
