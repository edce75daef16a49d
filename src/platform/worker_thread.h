// The worker threads of the proxy: parked when their work ends and handed the
// next piece of work, so a new connection seldom pays for a new thread.
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>

// Stack size of every worker thread. A relay touches only a few pages of it, so a
// thousand open connections cost little memory.
inline constexpr std::size_t kWorkerStackSize = 256 * 1024;

// Threads that run one piece of work after another. A piece goes to a parked
// thread when there is one, else to a new one; a thread parked longer than the
// idle time, or beyond the number kept parked, ends. Nothing ever joins them: the
// pool's shared state lives as long as the last of its threads.
class CWorkerPool {
 public:
  CWorkerPool(std::chrono::milliseconds idleTime, std::size_t maxParked);
  // Parked threads end at once; running ones when their piece of work is done.
  ~CWorkerPool();
  CWorkerPool(const CWorkerPool&) = delete;
  CWorkerPool& operator=(const CWorkerPool&) = delete;

  // Runs `entry(argument)` on a thread of the pool. False when no thread could be
  // had (then `entry` never runs and the caller still owns `argument`).
  bool Run(void* (*entry)(void*), void* argument);

  struct CState;

 private:
  std::shared_ptr<CState> m_state;
};

// How long a thread of the program's pool waits for work before it ends (shorter
// when LUMBRA_WORKER_IDLE_MS says so).
std::chrono::milliseconds GetWorkerIdleTime();

// Runs `entry(argument)` on a worker thread of the program's pool, with a
// kWorkerStackSize stack. False when no thread could be had (then `entry` never
// runs and the caller still owns `argument`).
bool StartWorkerThread(void* (*entry)(void*), void* argument);
