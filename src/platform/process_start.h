// Starting another program that runs on its own.
#pragma once

#include <string>
#include <vector>

// Starts the program at `path` with `arguments` (argv[0] is the path itself).
// The new process gets only the standard descriptors, an empty signal mask and
// default signal handlers, whatever the calling thread has blocked or ignored;
// nobody waits for it, but it is reaped when it ends. True when it was started.
bool StartDetachedProcess(const std::string& path, const std::vector<std::string>& arguments);

// What a program run to its end gave: whether it started, its exit status (-1
// when it was killed or timed out) and what it wrote to its standard output and
// error, at most 64 KiB of it.
struct CProgramRun {
  bool started = false;
  int exitStatus = -1;
  std::string output;
};

// Runs `program` (looked up in PATH when it holds no "/") with `arguments` and
// waits for it, for at most `timeoutMs` milliseconds; a program still running
// then is killed.
CProgramRun RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                       int timeoutMs);
