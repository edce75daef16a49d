// Single-instance lock on a file in the runtime folder.
#include "platform/instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/paths.h"

namespace {

// The lock needs only a read-only descriptor, so any user can open a lock file
// that another user created in the shared /tmp fallback (readable by all): the
// program then stays single on the machine. An existing file is opened without
// O_CREAT, which protected_regular refuses for other users' files in sticky folders.
int OpenLockFile(const std::string& lockPath) {
  constexpr int kFlags = O_RDONLY | O_CLOEXEC | O_NOFOLLOW;
  for (int attempt = 0; attempt < 3; ++attempt) {
    int descriptor = open(lockPath.c_str(), kFlags);
    if (descriptor >= 0 || errno != ENOENT) return descriptor;
    descriptor = open(lockPath.c_str(), kFlags | O_CREAT | O_EXCL, 0644);
    if (descriptor >= 0) {
      fchmod(descriptor, 0644);  // whatever the umask
      return descriptor;
    }
    if (errno != EEXIST) return -1;
  }
  return -1;
}

}  // namespace

CInstanceLock::~CInstanceLock() {
  if (m_descriptor >= 0) close(m_descriptor);
}

CInstanceLock::Result CInstanceLock::Acquire(const std::string& lockPath) {
  if (m_descriptor >= 0) return Result::kAcquired;
  int descriptor = OpenLockFile(lockPath);
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
