// Existence and age of files and folders.
#include "platform/file_status.h"

#include <sys/stat.h>

bool PathExists(const std::string& path) {
  if (path.empty()) return false;
  struct stat status {};
  return stat(path.c_str(), &status) == 0;
}

std::optional<std::int64_t> GetFileModifiedTime(const std::string& path) {
  struct stat status {};
  if (path.empty() || stat(path.c_str(), &status) != 0) return std::nullopt;
  return static_cast<std::int64_t>(status.st_mtime);
}
