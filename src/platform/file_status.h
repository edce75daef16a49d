// Existence test for files and folders.
#pragma once

#include <string>

// True when a file, folder or other entry of that name exists (a symbolic link
// counts when it leads somewhere). On false, errno says why.
bool PathExists(const std::string& path);
