// The single-instance lock: an exclusive flock held for the life of the process.
#pragma once

#include <string>

// Owns the lock file's descriptor; the lock goes when the object (or the
// process) ends. The descriptor is close-on-exec, so programs started by this
// one never keep the lock alive.
class CInstanceLock {
 public:
  enum class Result { kAcquired, kHeldElsewhere, kFailed };

  CInstanceLock() = default;
  ~CInstanceLock();
  CInstanceLock(const CInstanceLock&) = delete;
  CInstanceLock& operator=(const CInstanceLock&) = delete;

  // Opens (creating when missing) the lock file and takes the lock without
  // waiting. kFailed leaves errno describing why the file could not be opened.
  Result Acquire(const std::string& lockPath);
  bool IsHeld() const { return m_descriptor >= 0; }

 private:
  int m_descriptor = -1;
};

// The lock file's path: "LumbraMutex" in the runtime folder.
std::string GetInstanceLockPath();
