// Folder creation.
#pragma once

#include <string>

// Creates the folder and any missing parents (mode 0700 before the umask).
// True when the folder exists afterwards; on false, errno comes from the step
// that failed.
bool CreateDirectories(const std::string& path);
