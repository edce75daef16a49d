// Existence and age of files and folders.
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
