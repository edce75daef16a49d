// Starting a detached program with posix_spawn.
#include "platform/process_start.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
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

  // The child's standard output and error go to `descriptor`, its input comes
  // from nowhere.
  // Comes before Configure, whose closing of other descriptors would take
  // `descriptor` away first.
  bool SendOutputTo(int descriptor) {
    return m_ready &&
           posix_spawn_file_actions_addopen(&m_actions, 0, "/dev/null", O_RDONLY, 0) == 0 &&
           posix_spawn_file_actions_adddup2(&m_actions, descriptor, 1) == 0 &&
           posix_spawn_file_actions_adddup2(&m_actions, descriptor, 2) == 0;
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

namespace {

constexpr std::size_t kMaxProgramOutput = 64 * 1024;

// Reads the child's output until it closes the pipe (true) or the deadline passes.
bool CollectOutput(int pipe, std::chrono::steady_clock::time_point deadline, std::string& output) {
  char buffer[4096];
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd wait{pipe, POLLIN, 0};
    const int ready = ::poll(&wait, 1, static_cast<int>(left.count()));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return false;
    const ssize_t got = ::read(pipe, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return got == 0;
    const std::size_t room = kMaxProgramOutput - std::min(output.size(), kMaxProgramOutput);
    output.append(buffer, std::min(static_cast<std::size_t>(got), room));
  }
}

}  // namespace

CProgramRun RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                       int timeoutMs) {
  CProgramRun run;
  int pipes[2];
  if (::pipe2(pipes, O_CLOEXEC) != 0) return run;
  CSpawnSetup setup;
  const bool configured = setup.SendOutputTo(pipes[1]) && setup.Configure();
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  pid_t child = 0;
  run.started = configured && posix_spawnp(&child, program.c_str(), setup.GetActions(),
                                           setup.GetAttributes(), argv.data(), environ) == 0;
  ::close(pipes[1]);
  const bool ended =
      run.started && CollectOutput(pipes[0], std::chrono::steady_clock::now() +
                                                 std::chrono::milliseconds(timeoutMs),
                                   run.output);
  ::close(pipes[0]);
  if (!run.started) return run;
  // A child that has not closed its output in time is ended; either way it is reaped.
  if (!ended) ::kill(child, SIGKILL);
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  if (ended && WIFEXITED(status)) run.exitStatus = WEXITSTATUS(status);
  return run;
}
