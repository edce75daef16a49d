// Existence, age and privacy of files and folders.
#include "platform/file_status.h"

#include <sys/stat.h>
#include <unistd.h>

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

PrivacyCheck CheckPrivacy(const std::string& path, bool folder) {
  struct stat status {};
  if (path.empty() || lstat(path.c_str(), &status) != 0) return PrivacyCheck::kMissing;
  if (folder ? !S_ISDIR(status.st_mode) : !S_ISREG(status.st_mode)) return PrivacyCheck::kWrongKind;
  if (status.st_uid != geteuid()) return PrivacyCheck::kOtherOwner;
  if ((status.st_mode & 077) != 0) return PrivacyCheck::kOpenToOthers;
  return PrivacyCheck::kPrivate;
}
