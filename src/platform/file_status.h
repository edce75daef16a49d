// Existence, age and privacy of files and folders.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

// True when a file, folder or other entry of that name exists (a symbolic link
// counts when it leads somewhere). On false, errno says why.
bool PathExists(const std::string& path);

// When the file's content last changed, in seconds since 1970; none when there is
// no such file (errno says why).
std::optional<std::int64_t> GetFileModifiedTime(const std::string& path);

// What a file or folder that must stay private to this user turns out to be.
enum class PrivacyCheck {
  kPrivate,      // owned by this user, nobody else may read, write or enter it
  kMissing,      // no such entry
  kWrongKind,    // a symbolic link, or a folder where a file belongs or the other way round
  kOtherOwner,   // belongs to another user
  kOpenToOthers  // other users have some permission on it
};

// Checks the file (`folder` false) or folder at `path` without following a
// symbolic link.
PrivacyCheck CheckPrivacy(const std::string& path, bool folder);
