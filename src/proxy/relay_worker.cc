// CRelayWorker: one direction of a browser connection's traffic, on its own thread.
#include "proxy/relay_worker.h"

#include <poll.h>

#include <cerrno>
#include <new>
#include <utility>

#include "platform/worker_thread.h"
#include "proxy/host_cache.h"
#include "proxy/live_relay_count.h"
#include "proxy/request_text.h"
#include "proxy/server_socket.h"

CRelayWorker::~CRelayWorker() = default;

bool CRelayWorker::Setup(CSocket input, CSocket output, std::shared_ptr<CConfigSnapshot> config,
                         std::shared_ptr<CUpstreamState> state, RelayDirection direction) {
  m_input = std::move(input);
  m_output = std::move(output);
  m_config = std::move(config);
  if (m_config) m_settings = m_config->GetSettings();
  m_state = std::move(state);
  m_direction = direction;
  return true;
}

void CRelayWorker::SetHost(const std::string& host) { m_host = host; }

bool CRelayWorker::Start() {
  if (StartWorkerThread(ThreadMain, this)) return true;
  delete this;
  g_liveRelayCount.fetch_sub(1);
  return false;
}

void* CRelayWorker::ThreadMain(void* worker) {
  {
    std::unique_ptr<CRelayWorker> self(static_cast<CRelayWorker*>(worker));
    self->Run();
  }
  // Lowered only once the worker has let go of its sockets.
  g_liveRelayCount.fetch_sub(1);
  return nullptr;
}

void CRelayWorker::Run() {
  if (m_state && m_config) {
    if (m_direction == RelayDirection::kRequest)
      RunRequestRelay();
    else
      RunResponseRelay();
  }
  Teardown();
}

void CRelayWorker::Teardown() {
  m_input.Shutdown();
  m_output.Shutdown();
  if (m_direction == RelayDirection::kRequest) CloseAllUpstreams();
}

bool CRelayWorker::WaitForInput() const {
  pollfd entry{m_input.Get(), POLLIN, 0};
  for (;;) {
    if (::poll(&entry, 1, -1) > 0) return true;
    if (errno != EINTR) return false;
  }
}

ssize_t CRelayWorker::ReceivePiece(char* buffer, bool wait) const {
  const ssize_t received = wait ? ReceiveSome(m_input.Get(), buffer, kRequestBufferSize)
                                : ReceiveWaiting(m_input.Get(), buffer, kRequestBufferSize);
  if (received > 0) buffer[received] = 0;
  return received;
}

void CRelayWorker::RegisterUpstream(const std::shared_ptr<CUpstreamState>& state) {
  m_upstreams.Register(state);
}

std::shared_ptr<CUpstreamState> CRelayWorker::FindUpstream(const std::string& host, int port,
                                                           bool create, bool isConnect) {
  if (host.empty()) return nullptr;
  // A tunnel never shares a connection that carried plain requests.
  if (!isConnect) {
    if (auto state = m_upstreams.Find(host, port)) return state;
  }
  if (!create) return nullptr;
  return OpenUpstream(host, port, isConnect);
}

std::shared_ptr<CUpstreamState> CRelayWorker::OpenUpstream(const std::string& host, int port,
                                                           bool isConnect) {
  const auto address = ResolveHost(host);
  if (!address || !MayConnectTo(*address, port, m_scope)) return nullptr;
  CSocket server = ConnectToAddress(*address, port);
  if (!server.IsOpen()) return nullptr;
  auto state = std::make_shared<CUpstreamState>(host, port, server, isConnect);
  auto* relay = new (std::nothrow) CRelayWorker;
  if (relay == nullptr) return nullptr;
  g_liveRelayCount.fetch_add(1);
  relay->Setup(server, m_input, m_config, state, RelayDirection::kResponse);
  relay->SetScope(m_scope);
  if (!relay->Start()) return nullptr;
  if (isConnect)
    m_upstreams.Replace(state);
  else
    m_upstreams.Register(state);
  return state;
}

void CRelayWorker::CloseAllUpstreams() {
  if (m_current) m_current->GetServerSocket().Shutdown();
  m_upstreams.CloseAll();
}
