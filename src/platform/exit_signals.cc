// The signals that control the running program, taken synchronously: SIGTERM and
// SIGINT end it, SIGHUP reloads its configuration.
#include "platform/exit_signals.h"

#include <pthread.h>
#include <signal.h>

namespace {

sigset_t ControlSignalSet() {
  sigset_t set;
  ::sigemptyset(&set);
  ::sigaddset(&set, SIGTERM);
  ::sigaddset(&set, SIGINT);
  ::sigaddset(&set, SIGHUP);
  return set;
}

}  // namespace

bool BlockControlSignals() {
  const sigset_t set = ControlSignalSet();
  return ::pthread_sigmask(SIG_BLOCK, &set, nullptr) == 0;
}

void IgnoreBrokenPipeSignal() { ::signal(SIGPIPE, SIG_IGN); }

int WaitForControlSignal() {
  const sigset_t set = ControlSignalSet();
  for (;;) {
    int signal = 0;
    if (::sigwait(&set, &signal) == 0) return signal;
  }
}

bool IsReloadSignal(int signal) { return signal == SIGHUP; }
