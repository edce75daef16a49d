// The running program's file through /proc/self/exe, and its process id.
#include "platform/program_path.h"

#include <unistd.h>

#include <climits>

#include "platform/file_status.h"

std::string GetProgramPath() {
  char buffer[PATH_MAX];
  ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer);
  // A full buffer may hold a cut path; such a path is no use to anyone.
  if (length <= 0 || static_cast<std::size_t>(length) >= sizeof buffer) return {};
  std::string path(buffer, static_cast<std::size_t>(length));
  // A removed file reads as "<path> (deleted)", which names nothing.
  if (!PathExists(path)) return {};
  return path;
}

long GetOwnProcessId() { return static_cast<long>(getpid()); }
