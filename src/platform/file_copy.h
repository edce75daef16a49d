// Copying a file.
#pragma once

#include <string>

// Copies the content of `from` to `to`, replacing `to` atomically. On false
// `to` is untouched and errno says why.
bool CopyFile(const std::string& from, const std::string& to);
