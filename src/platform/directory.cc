// Folder creation, parents first.
#include "platform/directory.h"

#include <sys/stat.h>

#include <cerrno>

namespace {

bool IsDirectory(const std::string& path) {
  struct stat status {};
  return stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

bool CreateOne(const std::string& path) {
  if (mkdir(path.c_str(), 0700) == 0) return true;
  if (errno != EEXIST) return false;
  if (IsDirectory(path)) return true;
  errno = ENOTDIR;
  return false;
}

}  // namespace

bool CreateDirectories(const std::string& path) {
  std::string folder = path;
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  if (folder.empty()) {
    errno = ENOENT;
    return false;
  }
  if (IsDirectory(folder)) return true;
  // Parents first, left to right; bounded by the path's length.
  for (std::size_t slash = folder.find('/', 1); slash != std::string::npos;
       slash = folder.find('/', slash + 1)) {
    if (folder[slash - 1] == '/') continue;
    std::string parent = folder.substr(0, slash);
    if (!IsDirectory(parent) && !CreateOne(parent)) return false;
  }
  return CreateOne(folder);
}
