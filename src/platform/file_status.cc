// Existence test for files and folders.
#include "platform/file_status.h"

#include <sys/stat.h>

bool PathExists(const std::string& path) {
  if (path.empty()) return false;
  struct stat status {};
  return stat(path.c_str(), &status) == 0;
}
