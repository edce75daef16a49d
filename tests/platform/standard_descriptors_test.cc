#include "platform/standard_descriptors.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

bool IsDevNull(int descriptor) {
  struct stat status {
  }, null{};
  return fstat(descriptor, &status) == 0 && stat("/dev/null", &null) == 0 &&
         status.st_rdev == null.st_rdev && S_ISCHR(status.st_mode);
}

// Runs in a child, since it closes the test runner's own standard descriptors.
TEST(StandardDescriptors, ClosedOnesAreFilledAndOpenOnesKept) {
  pid_t child = fork();
  if (child == 0) {
    int keptOutput = dup(1);
    close(0);
    close(2);
    if (!OccupyStandardDescriptors()) _exit(10);
    if (!IsDevNull(0) || !IsDevNull(2)) _exit(11);
    // Descriptor 1 was open and stays what it was.
    struct stat one {
    }, kept{};
    fstat(1, &one);
    fstat(keptOutput, &kept);
    if (one.st_ino != kept.st_ino || one.st_dev != kept.st_dev) _exit(12);
    // The next descriptor the program opens is above the standard three.
    int next = open("/dev/null", O_RDONLY);
    _exit(next > 2 ? 0 : 13);
  }
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
