// The browser connection's side of the relay: request bodies, server
// connections, and tunnels.
#include <poll.h>

#include <new>
#include <utility>

#include "inspection/https_inspection.h"
#include "proxy/browser_connection.h"
#include "proxy/connect_answer.h"
#include "proxy/host_cache.h"
#include "proxy/live_relay_count.h"
#include "proxy/relay_worker.h"
#include "proxy/time_limits.h"
#include "proxy/tunnel_pump.h"

std::shared_ptr<CUpstreamState> CBrowserConnection::FindUpstream(const CRequestTarget& target,
                                                                 OpenFailure& failure) {
  const std::string& host = m_settings.corporate ? m_settings.corporateHost : target.host;
  const int port = m_settings.corporate ? m_settings.corporatePort : target.port;
  if (auto state = m_upstreams.Find(host, port)) {
    if (!m_order->IsRelayParked(*state) || IsStillUsable(*state)) return state;
    // Nobody watched it while its relay was parked: a server that has closed it
    // (or sent bytes it owed no one) is replaced by a new connection.
    state->SetEnded();
  }
  // A page that names many hosts keeps a bounded number of server connections.
  m_upstreams.MakeRoom(kMaxServerConnections, [this](const CUpstreamState& state) {
    return m_order->FirstOwedBy(&state).has_value();
  });
  CSocket server = ConnectServer(host, port, SocketMode::kBlocking, failure);
  if (!server.IsOpen()) return nullptr;
  SetSendLimit(server, GetTimeLimits().serverIdle);
  auto state = std::make_shared<CUpstreamState>(host, port, std::move(server));
  if (!StartResponseRelay(state)) return nullptr;
  m_upstreams.Register(state);
  return state;
}

bool CBrowserConnection::IsStillUsable(const CUpstreamState& state) {
  if (state.IdleFor(GetTimeLimits().serverIdle)) return false;
  pollfd entry{state.GetServerSocket().Get(), POLLIN, 0};
  return ::poll(&entry, 1, 0) == 0;
}

CSocket CBrowserConnection::ConnectServer(const std::string& host, int port, SocketMode mode,
                                          OpenFailure& failure) const {
  const auto address = ResolveHost(host);
  if (!address) {
    failure = OpenFailure::kNoSuchName;
    return {};
  }
  // The corporate proxy is the user's own choice, on loopback too, but never the
  // proxy itself.
  if (m_settings.corporate ? IsProxyItself(*address, port, m_scope)
                           : !MayConnectTo(*address, port, m_scope)) {
    failure = OpenFailure::kNotAllowed;
    return {};
  }
  ConnectFailure connectFailure = ConnectFailure::kNone;
  CSocket server = ConnectToAddress(*address, port, kConnectTimeout, connectFailure, mode);
  if (connectFailure == ConnectFailure::kTimedOut)
    failure = OpenFailure::kTimedOut;
  else if (!server.IsOpen())
    failure = OpenFailure::kRefused;
  return server;
}

bool CBrowserConnection::StartResponseRelay(const std::shared_ptr<CUpstreamState>& state) {
  std::unique_ptr<CRelayWorker> relay(new (std::nothrow) CRelayWorker);
  if (!relay) return false;
  CountAsRelay();
  relay->Setup(state, m_browser, m_config, m_order);
  g_liveRelayCount.fetch_add(1);
  // From here the worker owns itself; a failed start deletes it.
  return relay.release()->Start();
}

bool CBrowserConnection::ForwardBody(CUpstreamState& upstream) {
  const int server = upstream.GetServerSocket().Get();
  const std::chrono::milliseconds limit = GetTimeLimits().browserIdle;
  for (;;) {
    const CMessageStream::CEvent event = m_stream.Next(m_input->Unread(), kMaxPieceSize);
    switch (event.type) {
      case CMessageStream::Event::kEnd:
        return true;
      case CMessageStream::Event::kBody:
        // Body bytes pass unchanged and are never read as a request.
        if (SendAll(server, m_input->UnreadData(), event.length) < 0) return false;
        upstream.NoteActivity();
        m_input->Consume(event.length);
        break;
      case CMessageStream::Event::kNeedMore:
        // A body that stops coming ends like an idle connection.
        if (m_input->Receive(CReceiveWindow::Wait::kYes, limit) !=
            CReceiveWindow::Result::kReceived)
          return false;
        break;
      default:
        // Broken framing after part of the body has gone: the server cannot be
        // told which bytes were meant, so the whole connection ends.
        return false;
    }
  }
}

bool CBrowserConnection::BodyInHandIsBroken(std::size_t headLength) const {
  // Checked before the head leaves, so that a request whose body is broken in the
  // bytes already received reaches no server at all.
  CMessageStream probe = m_stream;
  std::string_view unread = m_input->Unread().substr(headLength);
  for (;;) {
    const CMessageStream::CEvent event = probe.Next(unread, kMaxPieceSize);
    if (event.type == CMessageStream::Event::kError) return true;
    if (event.type != CMessageStream::Event::kBody) return false;
    unread.remove_prefix(event.length);
  }
}

bool CBrowserConnection::OpenTunnel(const CRequestTarget& target, std::size_t headLength) {
  OpenFailure failure = OpenFailure::kNone;
  const CSocket server = ConnectServer(target.host, target.port, SocketMode::kNonBlocking, failure);
  if (!server.IsOpen()) {
    RefuseUnreachable(target.host, failure);
    return false;
  }
  // The tunnel's answer comes after every answer owed before it.
  if (!m_order->WaitUntilAllAnswered()) return false;
  if (SendAll(m_browser.Get(), kConnectAnswer.data(), kConnectAnswer.size()) < 0) return false;
  // The other server connections owe nothing and carry nothing from now on.
  m_upstreams.CloseAll();
  CountAsRelay();
  // Bytes the browser sent right behind the CONNECT already belong to the tunnel.
  m_input->Consume(headLength);
  if (const auto setup = GetHttpsInspection().SetupFor(target.host))
    InspectTunnel(target, server, *setup);
  else
    RelayTunnel(server);
  return false;
}

void CBrowserConnection::RelayTunnel(const CSocket& server) {
  // Both directions run on this thread, which counts as the relay of each.
  if (!SetSocketMode(m_browser, SocketMode::kNonBlocking)) return;
  const CLiveRelay secondDirection;
  CReceiveWindow fromServer(server.Get());
  const CTimeLimits& limits = GetTimeLimits();
  // After the browser has sent all it will, what the server still sends reaches
  // it for as long as an idle browser connection is kept.
  PumpTunnel(*m_input, fromServer, {limits.tunnelIdle, limits.browserIdle});
}
