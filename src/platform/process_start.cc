// Starting a detached program with posix_spawn.
#include "platform/process_start.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstdint>

#include "platform/worker_thread.h"

extern char** environ;

namespace {

// Owns the spawn attributes and file actions for one start.
class CSpawnSetup {
 public:
  CSpawnSetup() {
    m_ready = posix_spawnattr_init(&m_attributes) == 0;
    if (!m_ready) return;
    m_ready = posix_spawn_file_actions_init(&m_actions) == 0;
    if (!m_ready) posix_spawnattr_destroy(&m_attributes);
  }
  ~CSpawnSetup() {
    if (!m_ready) return;
    posix_spawn_file_actions_destroy(&m_actions);
    posix_spawnattr_destroy(&m_attributes);
  }
  CSpawnSetup(const CSpawnSetup&) = delete;
  CSpawnSetup& operator=(const CSpawnSetup&) = delete;

  // The child must not inherit the caller's blocked exit signals (worker threads
  // block them), its ignored SIGPIPE, or any descriptor beyond the standard ones.
  bool Configure() {
    if (!m_ready) return false;
    sigset_t none;
    sigset_t all;
    sigemptyset(&none);
    sigfillset(&all);
    return posix_spawnattr_setsigmask(&m_attributes, &none) == 0 &&
           posix_spawnattr_setsigdefault(&m_attributes, &all) == 0 &&
           posix_spawnattr_setflags(&m_attributes,
                                    POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF) == 0 &&
           posix_spawn_file_actions_addclosefrom_np(&m_actions, 3) == 0;
  }

  const posix_spawnattr_t* GetAttributes() const { return &m_attributes; }
  const posix_spawn_file_actions_t* GetActions() const { return &m_actions; }

 private:
  bool m_ready = false;
  posix_spawnattr_t m_attributes{};
  posix_spawn_file_actions_t m_actions{};
};

// Thread entry: the argument carries the child's process id.
void* ReapWhenEnded(void* argument) {
  pid_t child = static_cast<pid_t>(reinterpret_cast<std::intptr_t>(argument));
  while (waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
  }
  return nullptr;
}

}  // namespace

bool StartDetachedProcess(const std::string& path, const std::vector<std::string>& arguments) {
  CSpawnSetup setup;
  if (!setup.Configure()) return false;
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(path.c_str()));
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  pid_t child = 0;
  if (posix_spawn(&child, path.c_str(), setup.GetActions(), setup.GetAttributes(), argv.data(),
                  environ) != 0)
    return false;
  // A waiting thread of its own keeps the ended child from lingering as a zombie
  // without touching the process-wide SIGCHLD handling.
  // Should that thread not start, the child runs all the same and stays a zombie
  // only until we exit.
  StartWorkerThread(ReapWhenEnded, reinterpret_cast<void*>(static_cast<std::intptr_t>(child)));
  return true;
}
