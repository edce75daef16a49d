// Fills closed standard descriptors with /dev/null.
#include "platform/standard_descriptors.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace {

bool IsOpen(int descriptor) { return fcntl(descriptor, F_GETFD) != -1 || errno != EBADF; }

}  // namespace

bool OccupyStandardDescriptors() {
  for (int descriptor = 0; descriptor <= 2; ++descriptor) {
    if (IsOpen(descriptor)) continue;
    // open returns the lowest free descriptor, which is this one.
    int opened = open("/dev/null", descriptor == 0 ? O_RDONLY : O_WRONLY);
    if (opened < 0) return false;
    if (opened != descriptor) {
      dup2(opened, descriptor);
      close(opened);
    }
  }
  return true;
}
