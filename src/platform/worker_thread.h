// Starting the detached worker threads of the proxy.
#pragma once

#include <cstddef>

// Stack size of every worker thread. A relay touches only a few pages of it, so a
// thousand open connections cost little memory.
inline constexpr std::size_t kWorkerStackSize = 256 * 1024;

// Runs `entry(argument)` on a new detached thread with a kWorkerStackSize stack;
// nothing ever joins it. False when the thread could not be created (then `entry`
// never runs and the caller still owns `argument`).
bool StartWorkerThread(void* (*entry)(void*), void* argument);
