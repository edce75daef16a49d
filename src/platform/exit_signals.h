// The signals that end the program (SIGTERM, SIGINT), taken synchronously.
#pragma once

// Blocks SIGTERM and SIGINT in the calling thread and every thread it starts
// afterwards, so that they wait for WaitForExitSignal instead of killing the
// process at once. Call before any thread is started.
bool BlockExitSignals();

// Waits until SIGTERM or SIGINT arrives and returns its number.
int WaitForExitSignal();
