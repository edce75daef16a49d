// CBrowserConnection: the first request of an accepted browser connection.
#include "proxy/browser_connection.h"

#include <memory>
#include <new>
#include <string_view>
#include <utility>

#include "config/page_recorder.h"
#include "platform/worker_thread.h"
#include "proxy/buffer_pool.h"
#include "proxy/connect_answer.h"
#include "proxy/first_request.h"
#include "proxy/host_cache.h"
#include "proxy/live_relay_count.h"
#include "proxy/local_address.h"
#include "proxy/own_request.h"
#include "proxy/relay_worker.h"
#include "proxy/request_recording.h"
#include "proxy/request_text.h"
#include "proxy/server_socket.h"
#include "proxy/upstream_state.h"
#include "rules/request_matching.h"

CBrowserConnection::~CBrowserConnection() = default;

bool CBrowserConnection::Start(CSocket browser, in_addr peer, int proxyPort,
                               std::shared_ptr<CConfigSnapshot> config) {
  m_browser = std::move(browser);
  m_peer = peer;
  m_scope.proxyPort = proxyPort;
  m_config = std::move(config);
  m_settings = m_config->GetSettings();
  if (StartWorkerThread(ThreadMain, this)) return true;
  delete this;
  return false;
}

void* CBrowserConnection::ThreadMain(void* connection) {
  std::unique_ptr<CBrowserConnection> self(static_cast<CBrowserConnection*>(connection));
  self->Run();
  return nullptr;
}

void CBrowserConnection::Run() {
  // Reading the machine's addresses is left to this thread, off the accept loop.
  m_scope.peerIsLocal = IsOwnAddress(m_peer);
  // The request is read whole (up to 16384 bytes) before anything is decided.
  const CRelayBuffer buffer;
  char* text = buffer.Get();
  std::size_t length = ReadFirstRequest(m_browser.Get(), text, kRequestBufferSize);
  text[length] = 0;
  // With nothing received only a corporate connection goes on, and ends at once.
  if (length == 0 && !m_settings.corporate) return;

  CRequestTarget target;
  ParseHostAndPort(text, length, target.host, target.port, target.isConnect);
  if (HandOverOwnRequest(text, length, target)) return;

  const std::string url = GetRequestUrl(text, length, true);
  bool allowed = false;
  if (length > 0 && !PrepareRequest(text, length, url, allowed)) return;
  if (!m_settings.corporate && target.host.empty()) return;

  CSocket server = ConnectServer(target);
  if (!server.IsOpen()) return;
  if (!m_settings.corporate && target.isConnect) {
    if (SendAll(m_browser.Get(), kConnectAnswer.data(), kConnectAnswer.size()) < 0) return;
    // Bytes the browser sent right behind the CONNECT already belong to the tunnel.
    const std::size_t tunnelStart = FindHeaderBlockEnd(text, length);
    if (SendAll(server.Get(), text + tunnelStart, length - tunnelStart) < 0) return;
  } else if (SendAll(server.Get(), text, length) < 0) {
    return;
  }
  StartRelays(std::move(server), target, url, allowed);
}

bool CBrowserConnection::HandOverOwnRequest(const char* text, std::size_t length,
                                            const CRequestTarget& target) {
  // Only a request at the proxy's own port can be for the proxy itself; other
  // requests are not resolved before the rules have passed them.
  if (target.host.empty() || target.port != m_scope.proxyPort) return false;
  const auto address = ResolveHost(target.host);
  if (!address || !IsProxyItself(*address, target.port, m_scope)) return false;
  // The page is for this machine's own loopback only; anyone else is closed.
  if (IsLoopbackAddress(m_peer))
    HandleOwnRequest(std::move(m_browser), std::string_view(text, length));
  return true;
}

bool CBrowserConnection::PrepareRequest(char* text, std::size_t& length, const std::string& url,
                                        bool& allowed) {
  if (m_settings.filterActive) {
    COpenDepths depths;
    CConfigSnapshot::CLease rules = m_config->Borrow(depths);
    allowed = IsRequestAllowed(text, length, url, rules.GetDocument());
    // Nothing is sent to a blocked browser: its connection is simply closed.
    if (FilterTraffic(text, length, true, true, allowed, url, rules.GetDocument()).blocked)
      return false;
  }
  CPageRecorder& recorder = GetPageRecorder();
  if (recorder.GetState() == kRecorderRecording) RecordRequest(text, length);
  recorder.GetUrlHistory().Add(GetRequestUrl(text, length, false));
  // The corporate proxy needs the absolute form; a server reached directly gets
  // the origin form (RFC 9112 3.2.1).
  if (!m_settings.corporate) NormalizeRequest(text, length);
  return true;
}

CSocket CBrowserConnection::ConnectServer(const CRequestTarget& target) const {
  const std::string& host = m_settings.corporate ? m_settings.corporateHost : target.host;
  const int port = m_settings.corporate ? m_settings.corporatePort : target.port;
  const auto address = ResolveHost(host);
  if (!address) return {};
  // The corporate proxy is the user's own choice, on loopback too, but never the
  // proxy itself.
  if (m_settings.corporate ? IsProxyItself(*address, port, m_scope)
                           : !MayConnectTo(*address, port, m_scope))
    return {};
  return ConnectToAddress(*address, port);
}

void CBrowserConnection::StartRelays(CSocket server, const CRequestTarget& target,
                                     const std::string& url, bool allowed) {
  auto state = std::make_shared<CUpstreamState>(target.host, target.port, server, target.isConnect);
  state->NoteRequest(url, allowed);
  std::unique_ptr<CRelayWorker> request(new (std::nothrow) CRelayWorker);
  std::unique_ptr<CRelayWorker> response(new (std::nothrow) CRelayWorker);
  if (!request || !response) return;
  request->SetHost(target.host);
  request->SetScope(m_scope);
  response->SetScope(m_scope);
  g_liveRelayCount.fetch_add(2);
  request->Setup(m_browser, server, m_config, state, RelayDirection::kRequest);
  response->Setup(server, m_browser, m_config, state, RelayDirection::kResponse);
  // From here each worker owns itself; a failed start deletes it.
  if (!request.release()->Start()) {
    g_liveRelayCount.fetch_sub(1);
    return;
  }
  // Without a response relay nobody would ever answer: end the request relay too.
  if (!response.release()->Start()) {
    m_browser.Shutdown();
    server.Shutdown();
  }
}
