// The worker threads of the proxy: parked when their work ends and handed the
// next piece of work, so a new connection seldom pays for a new thread.
#include "platform/worker_thread.h"

#include <pthread.h>

#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <utility>

namespace {

struct CWork {
  void* (*entry)(void*);
  void* argument;
};

// How long a parked thread waits for work, and how many may wait at once: enough
// to take a page's burst of connections without new threads, few enough that the
// stacks of a past burst are soon given back.
constexpr std::chrono::milliseconds kProgramIdleTime{10000};
constexpr std::size_t kProgramMaxParked = 64;

// LUMBRA_WORKER_IDLE_MS shortens the idle time, so that tests that count threads
// see them end soon after their work.
std::chrono::milliseconds ReadProgramIdleTime() {
  const char* text = std::getenv("LUMBRA_WORKER_IDLE_MS");
  if (text == nullptr || *text < '0' || *text > '9') return kProgramIdleTime;
  return std::min(kProgramIdleTime, std::chrono::milliseconds(std::strtol(text, nullptr, 10)));
}

}  // namespace

struct CWorkerPool::CState {
  std::chrono::milliseconds idleTime;
  std::size_t maxParked;
  std::mutex lock;
  std::condition_variable wake;
  std::deque<CWork> pending;
  std::size_t parked = 0;
  bool stopping = false;
};

namespace {

// Waits for the next piece of work; false when the thread should end instead.
bool TakeWork(CWorkerPool::CState& state, CWork& work) {
  std::unique_lock<std::mutex> hold(state.lock);
  if (state.pending.empty() && state.parked >= state.maxParked) return false;
  ++state.parked;
  const bool woken = state.wake.wait_for(hold, state.idleTime, [&] {
    return state.stopping || !state.pending.empty();
  });
  --state.parked;
  if (!woken || state.pending.empty()) return false;
  work = state.pending.front();
  state.pending.pop_front();
  return true;
}

void* PoolThreadMain(void* context) {
  // The thread's own share of the state, handed over by Run.
  std::unique_ptr<std::shared_ptr<CWorkerPool::CState>> share(
      static_cast<std::shared_ptr<CWorkerPool::CState>*>(context));
  CWorkerPool::CState& state = **share;
  for (CWork work{}; TakeWork(state, work);) work.entry(work.argument);
  return nullptr;
}

bool StartPoolThread(const std::shared_ptr<CWorkerPool::CState>& state) {
  auto share = std::make_unique<std::shared_ptr<CWorkerPool::CState>>(state);
  pthread_attr_t attributes;
  if (::pthread_attr_init(&attributes) != 0) return false;
  const bool ready = ::pthread_attr_setstacksize(&attributes, kWorkerStackSize) == 0 &&
                     ::pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED) == 0;
  pthread_t thread;
  const bool started =
      ready && ::pthread_create(&thread, &attributes, PoolThreadMain, share.get()) == 0;
  ::pthread_attr_destroy(&attributes);
  if (started) share.release();  // the thread owns it now
  return started;
}

}  // namespace

CWorkerPool::CWorkerPool(std::chrono::milliseconds idleTime, std::size_t maxParked)
    : m_state(std::make_shared<CState>()) {
  m_state->idleTime = idleTime;
  m_state->maxParked = maxParked;
}

CWorkerPool::~CWorkerPool() {
  {
    std::lock_guard<std::mutex> hold(m_state->lock);
    m_state->stopping = true;
  }
  m_state->wake.notify_all();
}

bool CWorkerPool::Run(void* (*entry)(void*), void* argument) {
  {
    std::lock_guard<std::mutex> hold(m_state->lock);
    m_state->pending.push_back({entry, argument});
    // A parked thread for every piece waiting: one of them takes this one.
    if (m_state->parked >= m_state->pending.size()) {
      m_state->wake.notify_one();
      return true;
    }
  }
  if (StartPoolThread(m_state)) return true;
  // No new thread: the piece is taken back unless a thread took it meanwhile.
  std::lock_guard<std::mutex> hold(m_state->lock);
  const auto queued = std::find_if(m_state->pending.begin(), m_state->pending.end(),
                                   [&](const CWork& work) { return work.argument == argument; });
  if (queued == m_state->pending.end()) return true;
  m_state->pending.erase(queued);
  return false;
}

bool StartWorkerThread(void* (*entry)(void*), void* argument) {
  static CWorkerPool pool(ReadProgramIdleTime(), kProgramMaxParked);
  return pool.Run(entry, argument);
}
