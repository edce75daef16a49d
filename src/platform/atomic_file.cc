// Atomic file replacement through a temporary file and rename.
#include "platform/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>

namespace {

std::string ResolveTarget(const std::string& path) {
  char resolved[PATH_MAX];
  if (realpath(path.c_str(), resolved) == nullptr) return path;
  return resolved;
}

std::string FolderOf(const std::string& path) {
  std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// A new file takes the mode of the file it replaces; a first file gets the
// usual 0666 less the umask through open.
void CopyModeOfTarget(int descriptor, const std::string& targetPath) {
  struct stat status {};
  if (stat(targetPath.c_str(), &status) == 0) fchmod(descriptor, status.st_mode & 07777);
}

bool WriteAll(int descriptor, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t written = write(descriptor, bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) continue;
    if (written < 0) return false;
    if (written == 0) {
      errno = EIO;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

bool SyncFolder(const std::string& path) {
  int descriptor = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (descriptor < 0) return false;
  bool synced = fsync(descriptor) == 0;
  close(descriptor);
  return synced;
}

std::atomic<unsigned> g_tempCounter{0};

}  // namespace

CTempFile::CTempFile(const std::string& targetPath) : m_targetPath(ResolveTarget(targetPath)) {
  // A bounded number of names: a leftover from a crashed run is skipped, never reused.
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string candidate = m_targetPath + ".tmp." + std::to_string(getpid()) + "." +
                            std::to_string(g_tempCounter.fetch_add(1));
    int descriptor = open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (descriptor < 0 && errno == EEXIST) continue;
    if (descriptor < 0) return;
    CopyModeOfTarget(descriptor, m_targetPath);
    m_descriptor = descriptor;
    m_path = candidate;
    return;
  }
}

CTempFile::~CTempFile() {
  int error = errno;
  if (m_descriptor >= 0) close(m_descriptor);
  if (IsCreated() && !m_committed) unlink(m_path.c_str());
  errno = error;
}

bool CTempFile::Append(std::string_view bytes) {
  if (m_descriptor < 0) return false;
  // The file may have been rewritten by name since; always add at its end.
  if (lseek(m_descriptor, 0, SEEK_END) < 0) return false;
  return WriteAll(m_descriptor, bytes);
}

bool CTempFile::Commit() {
  if (m_descriptor < 0 || m_committed) return false;
  // fsync reports write-back failures (a full disk on delayed allocation, EIO).
  if (fsync(m_descriptor) != 0) return false;
  int descriptor = m_descriptor;
  m_descriptor = -1;
  if (close(descriptor) != 0) return false;
  if (rename(m_path.c_str(), m_targetPath.c_str()) != 0) return false;
  m_committed = true;
  // Makes the rename itself durable; the new content is in place either way.
  SyncFolder(FolderOf(m_targetPath));
  return true;
}

bool ReplaceFileAtomically(const std::string& path, std::string_view bytes) {
  CTempFile temp(path);
  return temp.Append(bytes) && temp.Commit();
}
