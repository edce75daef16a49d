// Starting another program that runs on its own.
#pragma once

#include <string>
#include <vector>

// Starts the program at `path` with `arguments` (argv[0] is the path itself).
// The new process gets only the standard descriptors, an empty signal mask and
// default signal handlers, whatever the calling thread has blocked or ignored;
// nobody waits for it, but it is reaped when it ends. True when it was started.
bool StartDetachedProcess(const std::string& path, const std::vector<std::string>& arguments);
