#include "platform/instance_lock.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/scoped_xdg_folders.h"

namespace {

// Tries the lock in a child process; its exit status is the result's number.
int TryLockInChild(const std::string& path) {
  pid_t child = fork();
  if (child == 0) {
    CInstanceLock lock;
    _exit(static_cast<int>(lock.Acquire(path)));
  }
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(InstanceLock, ASecondProcessIsRefusedWhileTheFirstHoldsIt) {
  CScopedXdgFolders xdg;
  std::string path = GetInstanceLockPath();
  EXPECT_EQ(path, xdg.GetRuntimeFolder() + "/LumbraMutex");
  {
    CInstanceLock lock;
    ASSERT_EQ(lock.Acquire(path), CInstanceLock::Result::kAcquired);
    EXPECT_TRUE(lock.IsHeld());
    EXPECT_EQ(TryLockInChild(path), static_cast<int>(CInstanceLock::Result::kHeldElsewhere));
    // A second lock object of the same process is refused too: the lock
    // belongs to the open file, not to the process.
    CInstanceLock second;
    EXPECT_EQ(second.Acquire(path), CInstanceLock::Result::kHeldElsewhere);
    EXPECT_FALSE(second.IsHeld());
  }
  EXPECT_EQ(TryLockInChild(path), static_cast<int>(CInstanceLock::Result::kAcquired));
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

TEST(InstanceLock, MissingRuntimeFolderFailsWithTheSystemError) {
  CInstanceLock lock;
  errno = 0;
  EXPECT_EQ(lock.Acquire("/nonexistent-folder-for-lumbra/LumbraMutex"),
            CInstanceLock::Result::kFailed);
  EXPECT_EQ(errno, ENOENT);
  EXPECT_FALSE(lock.IsHeld());
}

}  // namespace
