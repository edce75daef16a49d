// CBrowserConnection: one accepted browser connection, request after request.
#pragma once

#include <netinet/in.h>

#include <chrono>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "proxy/answer_order.h"
#include "proxy/config_snapshot.h"
#include "proxy/connection_scope.h"
#include "proxy/message_framing.h"
#include "proxy/proxy_settings.h"
#include "proxy/receive_window.h"
#include "proxy/server_socket.h"
#include "proxy/socket.h"
#include "proxy/upstream_table.h"
#include "rules/filter_state.h"

struct CInspectionSetup;

// Reads the browser's requests as messages, each the same way, the first and
// every later one: its header block whole, then the decision (rules, route,
// recording, history, the hand-off of requests for the proxy itself), then its
// body by its own framing to the server of that request; the next request starts
// exactly where the body ends. Each server connection has a response relay that
// sends its answers back in the order of the requests. A CONNECT, or an upgrade
// that the server accepts, turns the connection into an untouched tunnel.
//
// Owns itself: created with new, started with Start (or run with RunHere), deleted
// by the thread that runs it.
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
  // Start, but the connection runs on the calling thread: returns once it has
  // ended and the object is deleted.
  void RunHere(CSocket browser, in_addr peer, int proxyPort,
               std::shared_ptr<CConfigSnapshot> config);

  // The site an inspected tunnel reaches: its requests come decrypted, in origin
  // form, over the browser socket and go to the site over `server`, a plain socket
  // whose other end the tunnel's TLS bridge holds. The rules see them as
  // https://host/... requests.
  struct CInspectedOrigin {
    std::string host;
    int port = 443;
    CSocket server;
  };
  // Start for the decrypted side of an inspected tunnel.
  bool StartInspected(CSocket browser, in_addr peer, int proxyPort,
                      std::shared_ptr<CConfigSnapshot> config, CInspectedOrigin origin);

 private:
  // Server connections one browser connection keeps open at most, unless more
  // than that still owe it answers.
  static constexpr std::size_t kMaxServerConnections = 32;

  // Where a request goes.
  struct CRequestTarget {
    std::string host;
    int port = 80;
    bool isConnect = false;
  };
  // Why no server connection could be had.
  enum class OpenFailure { kNone, kNotAllowed, kNoSuchName, kRefused, kTimedOut };

  // Takes the socket, the configuration and a connection slot.
  void Prepare(CSocket browser, in_addr peer, int proxyPort,
               std::shared_ptr<CConfigSnapshot> config);
  static void* ThreadMain(void* connection);
  void Run();
  void Finish();

  // One request, from its header block to the end of its body; false ends the
  // connection.
  bool ServeRequest();
  using Clock = std::chrono::steady_clock;
  // Receives until a whole header block (or a framing error) is in front.
  bool ReadHead(CMessageStream::CEvent& event);
  // Receives more of a request, within the time a header block or an idle
  // connection has; false when the browser left or ran out of time.
  bool ReceiveRequestBytes(std::optional<Clock::time_point>& headDeadline);
  // Decides and forwards the request whose `headLength` bytes are in front.
  bool ForwardRequest(std::size_t headLength);
  // True when the request was for the proxy itself and has been dealt with.
  bool HandOverOwnRequest(char* head, const CRequestTarget& target);
  // Rules, recorder, history and, on a direct connection, origin form. False when
  // a rule blocks the request.
  bool PrepareRequest(char* head, std::size_t& headLength, const std::string& url,
                      std::string_view host, bool& allowed);
  // The rules, then the block lists; true when the request may go on.
  bool PassesFilters(char* head, std::size_t headLength, const std::string& url,
                     std::string_view host, bool& allowed, bool& modified);
  // The part of a body already received that the recorder may read with the head.
  std::size_t RecordableBodyLength(std::size_t headLength) const;
  // The server connection for `target` (the corporate proxy in that mode), opened
  // with its response relay when there is none yet.
  std::shared_ptr<CUpstreamState> FindUpstream(const CRequestTarget& target, OpenFailure& failure);
  // A server connection whose relay has parked is still open, quiet and within
  // its idle limit.
  static bool IsStillUsable(const CUpstreamState& state);
  CSocket ConnectServer(const std::string& host, int port, SocketMode mode,
                        OpenFailure& failure) const;
  bool StartResponseRelay(const std::shared_ptr<CUpstreamState>& state);
  // Sends the body that follows the head just sent; false ends the connection.
  bool ForwardBody(CUpstreamState& upstream);
  // True when the body bytes already received break its framing.
  bool BodyInHandIsBroken(std::size_t headLength) const;
  bool OpenTunnel(const CRequestTarget& target, std::size_t headLength);
  // An inspected tunnel (the CONNECT answered): the two handshakes, then the
  // bridge, unless the host must be passed through untouched.
  void InspectTunnel(const CRequestTarget& target, const CSocket& server,
                     const CInspectionSetup& setup);
  // Holds the browser's ClientHello in the input; false when none came.
  bool ReceiveClientHello();
  // Passes the tunnel through untouched on a fresh server connection, the
  // browser's bytes held so far first.
  void PassThrough(const CRequestTarget& target);
  // For an inspected connection: the target and URL of a request in origin form.
  bool ReadInspectedTarget(const char* head, std::size_t headLength, CRequestTarget& target,
                           std::string& url) const;
  // The one server connection of an inspected connection; none once it has ended.
  std::shared_ptr<CUpstreamState> FindInspectedUpstream(OpenFailure& failure);
  // Relays the tunnel's bytes untouched both ways until it ends.
  void RelayTunnel(const CSocket& server);
  // Answers with an error page once every earlier answer is out, then closes.
  void Refuse(int status, std::string_view host, std::string_view detail);
  void RefuseUnreachable(const std::string& host, OpenFailure failure);
  void CountAsRelay();

  CSocket m_browser;
  in_addr m_peer{};
  CConnectionScope m_scope;
  CProxySettings m_settings;
  std::shared_ptr<CConfigSnapshot> m_config;
  std::shared_ptr<CAnswerOrder> m_order;
  std::optional<CReceiveWindow> m_input;
  CMessageStream m_stream{CMessageStream::Side::kRequests};
  CUpstreamTable m_upstreams;
  // Set for the decrypted side of an inspected tunnel; its server socket is taken
  // by the first request.
  std::optional<CInspectedOrigin> m_origin;
  bool m_originUsed = false;
  // The request loop counts as one relay from its first server connection on.
  bool m_countedAsRelay = false;
  // What the rules carry from one request head to the next.
  CFilterState m_filterState;
};
