// The worker threads of the proxy: parked when their work ends and handed the
// next piece of work, so a new connection seldom pays for a new thread.
#include "platform/worker_thread.h"

#include <pthread.h>

#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

namespace {

struct CWork {
  void* (*entry)(void*) = nullptr;
  void* argument = nullptr;
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

// A thread waiting for work. Each has its own wake-up, so that handing it a piece
// wakes that thread alone, and the hand-off never makes it wait for the lock the
// giver still holds.
struct CParkedThread {
  std::condition_variable wake;
  CWork work;
  bool handed = false;
};

}  // namespace

struct CWorkerPool::CState {
  std::chrono::milliseconds idleTime;
  std::size_t maxParked;
  std::mutex lock;
  // The most recently parked last: it is handed work first, while its stack and
  // caches are still warm, and the ones at the front end when idle.
  std::vector<std::shared_ptr<CParkedThread>> parked;
  bool stopping = false;
};

namespace {

// Parks the thread until it is handed work (true) or should end (false).
// The waker holds a share of `self` until it has notified, so a thread that runs
// its piece and leaves at once never takes its wake-up away from under the waker.
bool Park(CWorkerPool::CState& state, const std::shared_ptr<CParkedThread>& self, CWork& work) {
  std::unique_lock<std::mutex> hold(state.lock);
  if (state.stopping || state.parked.size() >= state.maxParked) return false;
  self->handed = false;
  state.parked.push_back(self);
  if (!self->wake.wait_for(hold, state.idleTime, [&] { return self->handed; })) {
    // Nobody took this thread within the idle time: it leaves the pool.
    std::erase(state.parked, self);
    return false;
  }
  work = self->work;
  return work.entry != nullptr;
}

struct CThreadStart {
  std::shared_ptr<CWorkerPool::CState> state;
  CWork first;
};

void* PoolThreadMain(void* context) {
  // The thread's own share of the state and its first piece, handed over by Run.
  const std::unique_ptr<CThreadStart> start(static_cast<CThreadStart*>(context));
  CWorkerPool::CState& state = *start->state;
  const auto self = std::make_shared<CParkedThread>();
  for (CWork work = start->first; work.entry != nullptr;) {
    work.entry(work.argument);
    if (!Park(state, self, work)) break;
  }
  return nullptr;
}

bool StartPoolThread(const std::shared_ptr<CWorkerPool::CState>& state, CWork first) {
  auto start = std::make_unique<CThreadStart>(CThreadStart{state, first});
  pthread_attr_t attributes;
  if (::pthread_attr_init(&attributes) != 0) return false;
  const bool ready = ::pthread_attr_setstacksize(&attributes, kWorkerStackSize) == 0 &&
                     ::pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED) == 0;
  pthread_t thread;
  const bool started =
      ready && ::pthread_create(&thread, &attributes, PoolThreadMain, start.get()) == 0;
  ::pthread_attr_destroy(&attributes);
  if (started) start.release();  // the thread owns it now
  return started;
}

}  // namespace

CWorkerPool::CWorkerPool(std::chrono::milliseconds idleTime, std::size_t maxParked)
    : m_state(std::make_shared<CState>()) {
  m_state->idleTime = idleTime;
  m_state->maxParked = maxParked;
}

CWorkerPool::~CWorkerPool() {
  std::vector<std::shared_ptr<CParkedThread>> parked;
  {
    std::lock_guard<std::mutex> hold(m_state->lock);
    m_state->stopping = true;
    parked.swap(m_state->parked);
    // Handed no work: each ends.
    for (const auto& thread : parked) {
      thread->work = {};
      thread->handed = true;
    }
  }
  for (const auto& thread : parked) thread->wake.notify_one();
}

bool CWorkerPool::Run(void* (*entry)(void*), void* argument) {
  const CWork work{entry, argument};
  {
    std::unique_lock<std::mutex> hold(m_state->lock);
    if (!m_state->parked.empty()) {
      const std::shared_ptr<CParkedThread> thread = std::move(m_state->parked.back());
      m_state->parked.pop_back();
      thread->work = work;
      thread->handed = true;
      // Woken once the lock is free, so that it does not wake only to wait for it.
      hold.unlock();
      thread->wake.notify_one();
      return true;
    }
  }
  return StartPoolThread(m_state, work);
}

std::chrono::milliseconds GetWorkerIdleTime() {
  static const std::chrono::milliseconds idleTime = ReadProgramIdleTime();
  return idleTime;
}

bool StartWorkerThread(void* (*entry)(void*), void* argument) {
  static CWorkerPool pool(GetWorkerIdleTime(), kProgramMaxParked);
  return pool.Run(entry, argument);
}
