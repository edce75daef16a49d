// The signals that control the running program, taken synchronously: SIGTERM and
// SIGINT end it, SIGHUP reloads its configuration.
#pragma once

// Blocks SIGTERM, SIGINT and SIGHUP in the calling thread and every thread it
// starts afterwards, so that they wait for WaitForControlSignal instead of
// acting at once. Call before any thread is started.
bool BlockControlSignals();

// A write to a peer that has gone fails with EPIPE instead of ending the program
// with SIGPIPE; sends say so themselves (MSG_NOSIGNAL), splice(2) cannot. Programs
// started later get the default back.
void IgnoreBrokenPipeSignal();
// Waits until SIGTERM, SIGINT or SIGHUP arrives and returns its number.
int WaitForControlSignal();

// True for the signal that asks for a reload (SIGHUP); the others ask for the exit.
bool IsReloadSignal(int signal);
