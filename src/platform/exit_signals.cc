// The signals that end the program (SIGTERM, SIGINT), taken synchronously.
#include "platform/exit_signals.h"

#include <pthread.h>
#include <signal.h>

namespace {

sigset_t ExitSignalSet() {
  sigset_t set;
  ::sigemptyset(&set);
  ::sigaddset(&set, SIGTERM);
  ::sigaddset(&set, SIGINT);
  return set;
}

}  // namespace

bool BlockExitSignals() {
  const sigset_t set = ExitSignalSet();
  return ::pthread_sigmask(SIG_BLOCK, &set, nullptr) == 0;
}

int WaitForExitSignal() {
  const sigset_t set = ExitSignalSet();
  for (;;) {
    int signal = 0;
    if (::sigwait(&set, &signal) == 0) return signal;
  }
}
