// The running program: the path of its own file and its process id.
#pragma once

#include <string>

// The full path of the running program's file as the kernel knows it; empty
// when it cannot be read or the file is no longer found by that path (it was
// removed or replaced since the program started).
std::string GetProgramPath();

// This process's id.
long GetOwnProcessId();
