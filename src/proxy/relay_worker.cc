// CRelayWorker: the response relay of one server connection, on its own thread.
#include "proxy/relay_worker.h"

#include <utility>

#include "platform/worker_thread.h"
#include "proxy/error_answer.h"
#include "proxy/live_relay_count.h"

CRelayWorker::~CRelayWorker() = default;

void CRelayWorker::Setup(std::shared_ptr<CUpstreamState> state, CSocket browser,
                         std::shared_ptr<CConfigSnapshot> config,
                         std::shared_ptr<CAnswerOrder> order) {
  m_state = std::move(state);
  m_server = m_state->GetServerSocket();
  m_browser = std::move(browser);
  m_config = std::move(config);
  m_settings = m_config->GetSettings();
  m_order = std::move(order);
}

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
  const Ending ending = RelayAnswers();
  // The connection lives on without this relay.
  if (ending == Ending::kHandedOver || ending == Ending::kParked) return;
  m_state->SetEnded();
  m_server.Shutdown();
  if (ending == Ending::kServerOnly) return;
  // Everything of the browser connection ends: its request loop and the other
  // relays wake from their waits and receives.
  m_order->Close();
  m_browser.Shutdown();
}

void CRelayWorker::AnswerWithError(int status, std::string_view reason) {
  if (!m_hasTurn && !m_order->WaitForTurn(m_state.get())) return;
  SendErrorAnswer(m_browser.Get(), status, m_state->GetHost(), reason);
}
