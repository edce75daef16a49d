// CBrowserConnection: the first request of an accepted browser connection.
#pragma once

#include <netinet/in.h>

#include <cstddef>
#include <memory>
#include <string>

#include "proxy/config_snapshot.h"
#include "proxy/connection_scope.h"
#include "proxy/proxy_settings.h"
#include "proxy/socket.h"

// Reads the browser's first request, lets the rules allow, block or rewrite it,
// records it, connects to the server (or the corporate proxy), forwards the
// request or answers a CONNECT, and hands both sockets to a request relay and a
// response relay. Requests to the proxy itself go to the own-request handler.
//
// Owns itself: created with new, started with Start, deleted by its own thread.
class CBrowserConnection {
 public:
  CBrowserConnection() = default;
  virtual ~CBrowserConnection();
  CBrowserConnection(const CBrowserConnection&) = delete;
  CBrowserConnection& operator=(const CBrowserConnection&) = delete;

  // Takes the accepted socket and the listener's configuration, and starts the
  // connection thread. On failure the object is deleted (closing the socket) and
  // false is returned.
  bool Start(CSocket browser, in_addr peer, int proxyPort, std::shared_ptr<CConfigSnapshot> config);

 private:
  static void* ThreadMain(void* connection);
  void Run();

  // The parts of the request that decide where it goes.
  struct CRequestTarget {
    std::string host;
    int port = 80;
    bool isConnect = false;
  };

  // True when the request was for the proxy itself and has been handed over.
  bool HandOverOwnRequest(const char* text, std::size_t length, const CRequestTarget& target);
  // Rules, recorder, history and, on a direct connection, origin form. False when
  // a rule blocks the request.
  bool PrepareRequest(char* text, std::size_t& length, const std::string& url, bool& allowed);
  // The server (or corporate proxy) connection; no socket when it is out of reach.
  CSocket ConnectServer(const CRequestTarget& target) const;
  void StartRelays(CSocket server, const CRequestTarget& target, const std::string& url,
                   bool allowed);

  CSocket m_browser;
  in_addr m_peer{};
  CConnectionScope m_scope;
  CProxySettings m_settings;
  std::shared_ptr<CConfigSnapshot> m_config;
};
