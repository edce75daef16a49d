#include "platform/process_start.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include "platform/file_status.h"
#include "support/scoped_xdg_folders.h"

namespace {

std::string WaitForFile(const std::string& path) {
  for (int attempt = 0; attempt < 500 && !PathExists(path); ++attempt)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return ReadWholeFile(path);
}

TEST(ProcessStart, ChildGetsArgumentsAndNothingOfTheCallersState) {
  CScopedXdgFolders folders;
  std::string record = folders.GetBase() + "/record";
  // A descriptor without close-on-exec and blocked exit signals, as a worker
  // thread of the proxy has them.
  int inherited = open("/dev/null", O_RDONLY);
  ASSERT_GE(inherited, 3);
  sigset_t exitSignals;
  sigset_t previous;
  sigemptyset(&exitSignals);
  sigaddset(&exitSignals, SIGTERM);
  sigaddset(&exitSignals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &exitSignals, &previous);

  // Python leaves the signal mask as it finds it (a shell would clear it).
  std::string script =
      "import os, sys\n"
      "status = [l for l in open('/proc/self/status') if l.startswith('SigBlk')][0]\n"
      "fd = 'open' if os.path.exists('/proc/self/fd/" +
      std::to_string(inherited) +
      "') else 'closed'\n"
      "open(sys.argv[1] + '.part', 'w').write('|'.join(sys.argv[2:]) + '|' + fd + '\\n' + status)\n"
      "os.rename(sys.argv[1] + '.part', sys.argv[1])\n";
  bool started =
      StartDetachedProcess("/usr/bin/python3", {"-c", script, record, "first arg", "second"});
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  close(inherited);
  ASSERT_TRUE(started);
  EXPECT_EQ(WaitForFile(record), "first arg|second|closed\nSigBlk:\t0000000000000000\n");
}

}  // namespace
