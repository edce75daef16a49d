// HTTPS filtering of a chosen site: the CONNECT's tunnel opened up between two
// TLS handshakes, its requests and answers relayed like plain ones.
#include "inspection/https_inspection.h"
#include "proxy/browser_connection.h"
#include "proxy/relay_worker.h"
#include "proxy/request_text.h"
#include "proxy/time_limits.h"
#include "tls/client_hello.h"
#include "tls/leaf_certificates.h"
#include "tls/tls_bridge.h"
#include "tls/tls_handshake.h"

namespace {

constexpr int kHttpsPort = 443;

// "https://host" with the port when it is not the usual one, IPv6 in brackets.
std::string OriginUrl(const std::string& host, int port) {
  std::string url = "https://";
  url += host.find(':') != std::string::npos ? "[" + host + "]" : host;
  if (port != kHttpsPort) url += ":" + std::to_string(port);
  return url;
}

}  // namespace

void CBrowserConnection::InspectTunnel(const CRequestTarget& target, const CSocket& server,
                                       const CInspectionSetup& setup) {
  const CTimeLimits& limits = GetTimeLimits();
  CPassThroughHosts& passThrough = GetHttpsInspection().GetPassThroughHosts();
  // Bytes that are no TLS hello go to the server as they came.
  if (!ReceiveClientHello()) {
    if (!m_input->IsEmpty()) PassThrough(target);
    return;
  }
  // The server proves itself first: decrypted traffic only ever flows to a server
  // the system's trust vouches for.
  CServerTls serverTls =
      ShakeHandsWithServer(server, target.host, setup.authorityDer, limits.headerBlock);
  if (serverTls.verdict != ServerTlsVerdict::kVerified) {
    // Whatever the reason, the browser meets the server itself and gives its own
    // verdict; a server that would be refused again is not asked again this run.
    if (serverTls.verdict != ServerTlsVerdict::kFailed) passThrough.Remember(target.host);
    PassThrough(target);
    return;
  }
  const CLeafCredentials leaf = setup.leaves->GetFor(target.host);
  if (!leaf.certificate) {
    passThrough.Remember(target.host);
    serverTls.session.reset();
    PassThrough(target);
    return;
  }
  CSslPtr browserTls = ShakeHandsWithBrowser(m_browser, leaf, m_input->Unread(), limits.headerBlock);
  m_input->Consume(m_input->Unread().size());
  if (!browserTls) {
    // The browser refused Lumbra's certificate (a pinned site, an authority it does
    // not trust): its next try goes to the server untouched.
    passThrough.Remember(target.host);
    return;
  }
  CSocket innerBrowser;
  CSocket bridgeBrowser;
  CSocket innerServer;
  CSocket bridgeServer;
  if (!MakeSocketPair(innerBrowser, bridgeBrowser) || !MakeSocketPair(innerServer, bridgeServer))
    return;
  auto* inner = new (std::nothrow) CBrowserConnection;
  if (inner == nullptr ||
      !inner->StartInspected(std::move(innerBrowser), m_peer, m_scope.proxyPort, m_config,
                             {target.host, target.port, std::move(innerServer)}))
    return;
  // The decrypted connection closes its browser side only when it is done: the
  // bridge then ends, whatever the browser and the server still hold open.
  CTlsPlainPair pairs[] = {{browserTls.get(), m_browser.Get(), bridgeBrowser.Get(), true},
                           {serverTls.session.get(), server.Get(), bridgeServer.Get(), false}};
  BridgeTls(pairs, limits.tunnelIdle);
}

bool CBrowserConnection::ReceiveClientHello() {
  const auto deadline = Clock::now() + GetTimeLimits().headerBlock;
  for (;;) {
    const CClientHello hello = ReadClientHello(m_input->Unread());
    if (hello.kind == ClientHelloKind::kHello) return true;
    if (hello.kind != ClientHelloKind::kNeedMore || m_input->IsFull()) return false;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0 ||
        m_input->Receive(CReceiveWindow::Wait::kYes, left) != CReceiveWindow::Result::kReceived)
      return false;
  }
}

void CBrowserConnection::PassThrough(const CRequestTarget& target) {
  OpenFailure failure = OpenFailure::kNone;
  const CSocket server = ConnectServer(target.host, target.port, SocketMode::kNonBlocking, failure);
  if (server.IsOpen()) RelayTunnel(server);
}

bool CBrowserConnection::ReadInspectedTarget(const char* head, std::size_t headLength,
                                             CRequestTarget& target, std::string& url) const {
  target.host = m_origin->host;
  target.port = m_origin->port;
  // A CONNECT inside a tunnel, or a request for another site, is no request for
  // this one.
  if (m_stream.GetRequestHead().kind == RequestKind::kConnect) return false;
  const std::string requestTarget = GetRequestUrl(head, headLength, true);
  if (requestTarget.empty() || requestTarget.front() != '/') return false;
  url = OriginUrl(target.host, target.port) + requestTarget;
  return true;
}

std::shared_ptr<CUpstreamState> CBrowserConnection::FindInspectedUpstream(OpenFailure& failure) {
  // The tunnel carries one server connection; once it has ended, so has this one.
  failure = OpenFailure::kNone;
  if (m_originUsed) {
    auto state = m_upstreams.Find(m_origin->host, m_origin->port);
    if (state && (!m_order->IsRelayParked(*state) || IsStillUsable(*state))) return state;
    return nullptr;
  }
  m_originUsed = true;
  auto state = std::make_shared<CUpstreamState>(m_origin->host, m_origin->port,
                                                std::move(m_origin->server));
  if (!StartResponseRelay(state)) return nullptr;
  m_upstreams.Register(state);
  return state;
}
