// Atomic file replacement through a temporary file and rename.
#include "platform/atomic_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <set>

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

// The temporary files this process has open: a leftover of an earlier process
// that had the same id must go, these must not.
std::mutex g_openTempLock;
std::set<std::string> g_openTempPaths;

constexpr std::string_view kTempInfix = ".tmp.";

std::string TempFileName(const std::string& targetPath, unsigned counter) {
  return targetPath + std::string(kTempInfix) + std::to_string(getpid()) + "." +
         std::to_string(counter);
}

// The process id in a temporary file's name "<target name>.tmp.<pid>.<counter>",
// or 0 when `name` is not one of them.
pid_t TempFileOwner(std::string_view name, std::string_view targetName) {
  if (!name.starts_with(targetName) || !name.substr(targetName.size()).starts_with(kTempInfix))
    return 0;
  const std::string_view numbers = name.substr(targetName.size() + kTempInfix.size());
  const std::size_t dot = numbers.find('.');
  const std::string_view pid = numbers.substr(0, dot);
  const std::string_view counter = dot == std::string_view::npos ? "" : numbers.substr(dot + 1);
  const auto allDigits = [](std::string_view text) {
    return !text.empty() && text.size() <= 10 &&
           text.find_first_not_of("0123456789") == std::string_view::npos;
  };
  if (!allDigits(pid) || !allDigits(counter)) return 0;
  const long long id = std::strtoll(std::string(pid).c_str(), nullptr, 10);
  return id <= INT_MAX ? static_cast<pid_t>(id) : 0;
}

bool IsOpenHere(const std::string& path) {
  std::lock_guard<std::mutex> guard(g_openTempLock);
  return g_openTempPaths.count(path) != 0;
}

bool IsRunningElsewhere(pid_t pid) {
  return pid != getpid() && (kill(pid, 0) == 0 || errno == EPERM);
}

}  // namespace

CTempFile::CTempFile(const std::string& targetPath, FileAccess access)
    : m_targetPath(ResolveTarget(targetPath)) {
  const bool ownerOnly = access == FileAccess::kOwnerOnly;
  // A bounded number of names: a leftover from a crashed run is skipped, never reused.
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string candidate = TempFileName(m_targetPath, g_tempCounter.fetch_add(1));
    int descriptor =
        open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, ownerOnly ? 0600 : 0666);
    if (descriptor < 0 && errno == EEXIST) continue;
    if (descriptor < 0) return;
    if (!ownerOnly) CopyModeOfTarget(descriptor, m_targetPath);
    m_descriptor = descriptor;
    m_path = candidate;
    std::lock_guard<std::mutex> guard(g_openTempLock);
    g_openTempPaths.insert(m_path);
    return;
  }
}

CTempFile::~CTempFile() {
  int error = errno;
  if (m_descriptor >= 0) close(m_descriptor);
  if (IsCreated() && !m_committed) unlink(m_path.c_str());
  if (IsCreated()) {
    std::lock_guard<std::mutex> guard(g_openTempLock);
    g_openTempPaths.erase(m_path);
  }
  errno = error;
}

bool CTempFile::Append(std::string_view bytes) {
  if (m_descriptor < 0) return false;
  // The file may have been rewritten by name since; always add at its end.
  if (lseek(m_descriptor, 0, SEEK_END) < 0) return false;
  return WriteAll(m_descriptor, bytes);
}

bool CTempFile::FlushAndClose() {
  if (m_descriptor < 0 || m_committed) return false;
  // fsync reports write-back failures (a full disk on delayed allocation, EIO).
  if (fsync(m_descriptor) != 0) return false;
  int descriptor = m_descriptor;
  m_descriptor = -1;
  return close(descriptor) == 0;
}

bool CTempFile::Commit() {
  if (!FlushAndClose()) return false;
  if (rename(m_path.c_str(), m_targetPath.c_str()) != 0) return false;
  m_committed = true;
  // Makes the rename itself durable; the new content is in place either way.
  SyncFolder(FolderOf(m_targetPath));
  return true;
}

bool CTempFile::CommitAsNew() {
  if (!FlushAndClose()) return false;
  // A hard link, unlike rename, fails when the target exists.
  if (link(m_path.c_str(), m_targetPath.c_str()) != 0) return false;
  m_committed = true;
  unlink(m_path.c_str());
  SyncFolder(FolderOf(m_targetPath));
  return true;
}

bool ReplaceFileAtomically(const std::string& path, std::string_view bytes) {
  CTempFile temp(path);
  return temp.Append(bytes) && temp.Commit();
}

bool CreateFileAtomically(const std::string& path, std::string_view bytes, FileAccess access) {
  CTempFile temp(path, access);
  return temp.Append(bytes) && temp.CommitAsNew();
}

void RemoveLeftoverTempFiles(const std::string& targetPath) {
  const std::string target = ResolveTarget(targetPath);
  const std::string folder = FolderOf(target);
  // Named the way CTempFile names them, so that its own open files are recognised.
  const std::string targetName = target.substr(target.rfind('/') + 1);
  const std::string pathPrefix = target.substr(0, target.size() - targetName.size());
  struct FolderCloser {
    void operator()(DIR* entries) const { closedir(entries); }
  };
  std::unique_ptr<DIR, FolderCloser> entries(opendir(folder.c_str()));
  if (!entries) return;
  while (const dirent* entry = readdir(entries.get())) {
    const pid_t owner = TempFileOwner(entry->d_name, targetName);
    if (owner <= 0 || IsRunningElsewhere(owner)) continue;
    const std::string path = pathPrefix + entry->d_name;
    struct stat status {};
    if (lstat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode) || IsOpenHere(path)) continue;
    unlink(path.c_str());
  }
}
