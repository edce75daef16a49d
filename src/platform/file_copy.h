// Copying a file, and reading one whole.
#pragma once

#include <string>

// Copies the content of `from` to `to`, replacing `to` atomically. On false
// `to` is untouched and errno says why.
bool CopyFile(const std::string& from, const std::string& to);

// Every byte of the file at `path`; empty when it cannot be read.
std::string ReadFileContent(const std::string& path);
