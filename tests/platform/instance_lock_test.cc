#include "platform/instance_lock.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/scoped_xdg_folders.h"

namespace {

// Tries the lock in a child process, as another user when `user` is not -1;
// its exit status is the result's number.
int TryLockInChild(const std::string& path, int user = -1) {
  pid_t child = fork();
  if (child == 0) {
    if (user != -1 && (setresgid(user, user, user) != 0 || setresuid(user, user, user) != 0))
      _exit(99);
    CInstanceLock lock;
    _exit(static_cast<int>(lock.Acquire(path)));
  }
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(InstanceLock, ProgramsStartedByTheHolderDoNotKeepIt) {
  CScopedXdgFolders xdg;
  std::string path = GetInstanceLockPath();
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  pid_t holder = fork();
  if (holder == 0) {
    CInstanceLock lock;
    if (lock.Acquire(path) != CInstanceLock::Result::kAcquired) _exit(1);
    // A long-lived program started by the holder (as the updater is).
    dup2(ready[1], 1);
    execlp("sh", "sh", "-c", "echo started; exec sleep 30", static_cast<char*>(nullptr));
    _exit(2);
  }
  close(ready[1]);
  char buffer[16];
  ASSERT_GT(read(ready[0], buffer, sizeof buffer), 0);
  close(ready[0]);
  // exec replaced the holder, and the lock's descriptor was closed on exec.
  EXPECT_EQ(TryLockInChild(path), static_cast<int>(CInstanceLock::Result::kAcquired));
  kill(holder, SIGTERM);
  waitpid(holder, nullptr, 0);
}

TEST(InstanceLock, SharedFallbackFolderLocksOutOtherUsersToo) {
  if (geteuid() != 0) GTEST_SKIP() << "needs to act as a second user";
  CScopedXdgFolders xdg;
  // A folder like /tmp: world-writable with the sticky bit.
  std::string shared = xdg.GetBase() + "/shared";
  ASSERT_EQ(mkdir(shared.c_str(), 0700), 0);
  chmod(xdg.GetBase().c_str(), 0755);
  chmod(shared.c_str(), 01777);
  std::string path = shared + "/LumbraMutex";
  const int nobody = 65534;
  {
    mode_t oldMask = umask(077);
    CInstanceLock lock;
    ASSERT_EQ(lock.Acquire(path), CInstanceLock::Result::kAcquired);
    umask(oldMask);
    EXPECT_EQ(TryLockInChild(path, nobody),
              static_cast<int>(CInstanceLock::Result::kHeldElsewhere));
  }
  EXPECT_EQ(TryLockInChild(path, nobody), static_cast<int>(CInstanceLock::Result::kAcquired));
}

}  // namespace
