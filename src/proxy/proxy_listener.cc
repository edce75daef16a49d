// CProxyListener: the proxy port and its accept loop.
#include "proxy/proxy_listener.h"

#include <arpa/inet.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstddef>
#include <memory>
#include <new>
#include <thread>
#include <utility>

#include "platform/worker_thread.h"
#include "proxy/browser_connection.h"
#include "proxy/config_snapshot.h"
#include "proxy/connection_slots.h"
#include "proxy/peer_access.h"
#include "proxy/proxy_settings.h"
#include "proxy/socket.h"
#include "proxy/time_limits.h"

namespace {

// A failed accept (no descriptors left, say) is retried after this pause
// instead of at once, so that the loop never spins.
constexpr std::chrono::milliseconds kAcceptBackoff{50};

CSocket OpenListeningSocket(int port) {
  CSocket listening(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!listening.IsOpen()) return {};
  const int reuse = 1;
  ::setsockopt(listening.Get(), SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  address.sin_port = htons(static_cast<uint16_t>(port));
  if (::bind(listening.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
    return {};
  if (::listen(listening.Get(), CProxyListener::kBacklog) != 0) return {};
  // Accepted sockets start with the listening socket's options, so these cost no
  // call per connection. Small pieces go out at once: a response's header and body
  // may arrive in two receives, and waiting for an acknowledgement would delay the
  // second. A browser that stops reading holds a send no longer than an idle
  // connection.
  const int noDelay = 1;
  ::setsockopt(listening.Get(), IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof noDelay);
  SetSendLimit(listening, GetTimeLimits().browserIdle);
  // A spare thread waiting in accept gives up after the workers' idle time. Accepted
  // sockets inherit this limit too, harmlessly: every wait for a browser's bytes
  // has a limit of its own.
  SetReceiveLimit(listening, GetWorkerIdleTime());
  return listening;
}

int GetBoundPort(int socket) {
  sockaddr_in address{};
  socklen_t size = sizeof address;
  if (::getsockname(socket, reinterpret_cast<sockaddr*>(&address), &size) != 0) return 0;
  return ntohs(address.sin_port);
}

}  // namespace

// The configuration handed to new connections, shared with the listener threads.
struct CProxyListener::CSharedConfig {
  std::mutex lock;
  std::shared_ptr<CConfigSnapshot> snapshot;
};

// One run of the accept loop. Its threads wait in accept together, and the system
// hands each new connection straight to one of them, which then serves it itself
// while another waiting thread (started first when there was none) takes the next.
// A thread whose connection has ended waits in accept again while few do. The
// listening socket closes with the last thread to leave after a stop, so that no
// accept ever uses a closed (or reused) descriptor.
struct CProxyListener::CRun {
  enum class Phase { kBinding, kListening, kEnded };

  // Threads that may wait in accept at once: enough that a burst of connections
  // seldom finds none waiting (and so seldom waits for a thread to be woken).
  static constexpr std::size_t kMostAcceptors = 8;

  std::shared_ptr<CSharedConfig> config;
  int requestedPort = 0;

  std::mutex lock;
  std::condition_variable changed;
  Phase phase = Phase::kBinding;
  std::atomic<bool> stopRequested{false};
  CSocket listening;
  // The listening descriptor while the loop runs (for Stop to wake the accepts).
  int socket = 0;
  int port = 0;
  // Threads in the accept loop, waiting in accept or about to. At least one while
  // listening, until a stop.
  std::size_t acceptors = 0;

  void Serve(const std::shared_ptr<CRun>& self);
  void AcceptConnections(const std::shared_ptr<CRun>& self);
  static void* AcceptorMain(void* run);
  // Lets this thread leave the accept loop to serve a connection. False when it
  // was the only one waiting and no thread could be had to take its place.
  bool StepOut(const std::shared_ptr<CRun>& self);
  // Takes this thread back into the accept loop after its connection; false when
  // it should go (a stop, or enough waiting already).
  bool StepBackIn();
  // A spare thread leaves after waiting its idle time; the last one stays.
  bool LeaveWhenSpare();
  // This thread leaves after a stop; the last one closes the listening socket.
  void Leave();
  void StartConnection(CSocket browser, in_addr peer, bool onThisThread);
};

CProxyListener::CProxyListener() : m_config(std::make_shared<CSharedConfig>()) {
  m_config->snapshot = std::make_shared<CConfigSnapshot>(CXmlNode());
}

CProxyListener::~CProxyListener() { Stop(); }

void CProxyListener::SetConfig(const CXmlNode& document) {
  auto snapshot = std::make_shared<CConfigSnapshot>(document);
  std::lock_guard lock(m_config->lock);
  m_config->snapshot = std::move(snapshot);
}

bool CProxyListener::Start() {
  Stop();
  m_run = LaunchRun();
  return m_run != nullptr;
}

bool CProxyListener::WaitUntilListening(std::chrono::milliseconds timeout) {
  return m_run && WaitListening(*m_run, timeout);
}

void CProxyListener::Stop() {
  if (m_run) EndRun(std::move(m_run));
}

bool CProxyListener::MoveToConfiguredPort(std::chrono::milliseconds timeout) {
  std::shared_ptr<CRun> next = LaunchRun();
  if (!next) return false;
  if (!WaitListening(*next, timeout)) {
    EndRun(std::move(next));
    return false;
  }
  Stop();
  m_run = std::move(next);
  return true;
}

std::shared_ptr<CProxyListener::CRun> CProxyListener::LaunchRun() {
  auto run = std::make_shared<CRun>();
  run->config = m_config;
  {
    std::lock_guard lock(m_config->lock);
    run->requestedPort = m_config->snapshot->GetSettings().listenPort;
  }
  // The thread's own reference to the run, handed over like every accepting thread's.
  auto reference = std::make_unique<std::shared_ptr<CRun>>(run);
  if (!StartWorkerThread(ThreadMain, reference.get())) return nullptr;
  reference.release();  // the thread owns it now
  return run;
}

bool CProxyListener::WaitListening(CRun& run, std::chrono::milliseconds timeout) {
  std::unique_lock lock(run.lock);
  run.changed.wait_for(lock, timeout, [&] { return run.phase != CRun::Phase::kBinding; });
  return run.phase == CRun::Phase::kListening && !run.stopRequested;
}

void CProxyListener::EndRun(std::shared_ptr<CRun> run) {
  std::unique_lock lock(run->lock);
  run->stopRequested = true;
  // Wakes the blocked accept; the thread then closes the socket itself.
  if (run->socket > 0) ::shutdown(run->socket, SHUT_RDWR);
  run->changed.wait_for(lock, std::chrono::seconds(2),
                        [&] { return run->phase == CRun::Phase::kEnded; });
}

bool CProxyListener::IsRunning() const {
  if (!m_run) return false;
  std::lock_guard lock(m_run->lock);
  return m_run->phase == CRun::Phase::kListening && !m_run->stopRequested;
}

int CProxyListener::GetPort() const {
  if (!m_run) return 0;
  std::lock_guard lock(m_run->lock);
  return m_run->phase == CRun::Phase::kListening && !m_run->stopRequested ? m_run->port : 0;
}

void* CProxyListener::ThreadMain(void* run) {
  const std::unique_ptr<std::shared_ptr<CRun>> self(static_cast<std::shared_ptr<CRun>*>(run));
  (*self)->Serve(*self);
  return nullptr;
}

void CProxyListener::CRun::Serve(const std::shared_ptr<CRun>& self) {
  CSocket opened = OpenListeningSocket(requestedPort);
  {
    std::lock_guard guard(lock);
    // A Stop that came while binding finds no socket to wake: leave now.
    if (!opened.IsOpen() || stopRequested) {
      phase = Phase::kEnded;
      changed.notify_all();
      return;
    }
    phase = Phase::kListening;
    socket = opened.Get();
    port = GetBoundPort(socket);
    listening = std::move(opened);
    acceptors = 1;
    changed.notify_all();
  }
  AcceptConnections(self);
}

void* CProxyListener::CRun::AcceptorMain(void* run) {
  const std::unique_ptr<std::shared_ptr<CRun>> self(static_cast<std::shared_ptr<CRun>*>(run));
  (*self)->AcceptConnections(*self);
  return nullptr;
}

void CProxyListener::CRun::AcceptConnections(const std::shared_ptr<CRun>& self) {
  int descriptor;
  {
    // Open for as long as this thread counts among the acceptors.
    std::lock_guard guard(lock);
    descriptor = socket;
  }
  while (!stopRequested) {
    // Over the cap, new connections wait in the listen queue until one ends.
    if (!GetConnectionSlots().WaitForFree(kAcceptBackoff)) continue;
    sockaddr_in peer{};
    socklen_t size = sizeof peer;
    const int accepted =
        ::accept4(descriptor, reinterpret_cast<sockaddr*>(&peer), &size, SOCK_CLOEXEC);
    if (accepted < 0) {
      if (stopRequested) break;
      if (errno == EAGAIN || errno == EWOULDBLOCK) {
        if (LeaveWhenSpare()) return;
      } else if (errno != EINTR && errno != ECONNABORTED) {
        std::this_thread::sleep_for(kAcceptBackoff);
      }
      continue;
    }
    CSocket browser(accepted);
    if (stopRequested) break;
    if (!StepOut(self)) {
      StartConnection(std::move(browser), peer.sin_addr, false);
      continue;
    }
    StartConnection(std::move(browser), peer.sin_addr, true);
    if (!StepBackIn()) return;
  }
  Leave();
}

bool CProxyListener::CRun::StepOut(const std::shared_ptr<CRun>& self) {
  {
    std::lock_guard guard(lock);
    if (acceptors > 1) {
      --acceptors;
      return true;
    }
  }
  // The last one waiting: a new thread takes its place in the count at once, so
  // that a stop waits for it too.
  auto reference = std::make_unique<std::shared_ptr<CRun>>(self);
  if (!StartWorkerThread(AcceptorMain, reference.get())) return false;
  reference.release();  // the new thread owns it now
  return true;
}

bool CProxyListener::CRun::StepBackIn() {
  std::lock_guard guard(lock);
  if (stopRequested || acceptors >= kMostAcceptors) return false;
  ++acceptors;
  return true;
}

bool CProxyListener::CRun::LeaveWhenSpare() {
  std::lock_guard guard(lock);
  if (acceptors <= 1) return false;
  --acceptors;
  return true;
}

void CProxyListener::CRun::Leave() {
  std::lock_guard guard(lock);
  if (--acceptors > 0) return;
  // Forget the descriptor before it is closed, so that Stop never shuts down a
  // number the system may already have given to another socket.
  socket = 0;
  listening.Reset();
  phase = Phase::kEnded;
  changed.notify_all();
}

void CProxyListener::CRun::StartConnection(CSocket browser, in_addr peer, bool onThisThread) {
  std::shared_ptr<CConfigSnapshot> snapshot;
  {
    std::lock_guard guard(config->lock);
    snapshot = config->snapshot;
  }
  // A peer the proxy does not serve is closed without an answer, before anything
  // it sent is read: its requests never reach a server.
  if (!IsPeerServed(peer, snapshot->GetSettings().allowLocalNetwork)) return;
  auto* connection = new (std::nothrow) CBrowserConnection;
  if (connection == nullptr) return;
  if (onThisThread)
    connection->RunHere(std::move(browser), peer, port, std::move(snapshot));
  else
    connection->Start(std::move(browser), peer, port, std::move(snapshot));
}
