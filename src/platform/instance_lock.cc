// Single-instance lock on a file in the runtime folder.
#include "platform/instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include "platform/paths.h"

CInstanceLock::~CInstanceLock() {
  if (m_descriptor >= 0) close(m_descriptor);
}

CInstanceLock::Result CInstanceLock::Acquire(const std::string& lockPath) {
  if (m_descriptor >= 0) return Result::kAcquired;
  int descriptor = open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (descriptor < 0) return Result::kFailed;
  int status;
  do {
    status = flock(descriptor, LOCK_EX | LOCK_NB);
  } while (status != 0 && errno == EINTR);
  if (status != 0) {
    int error = errno;
    close(descriptor);
    errno = error;
    return error == EWOULDBLOCK ? Result::kHeldElsewhere : Result::kFailed;
  }
  m_descriptor = descriptor;
  return Result::kAcquired;
}

std::string GetInstanceLockPath() { return JoinPath(GetRuntimeFolder(), "LumbraMutex"); }
