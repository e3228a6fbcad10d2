// Ctrl+C and the system's request to terminate, for a program that runs in a
// terminal: once watched, such a request no longer ends the process; it is
// kept as a flag that the program looks at where it can stop safely, and it
// wakes a wait for it at once. Each platform supplies its own form (signal
// handlers here, a console control handler on Windows).
#pragma once

namespace tessel {

// Starts watching (once per process; later calls do nothing). No signal is
// blocked for any thread, so commands started afterwards begin with the
// normal signal mask.
void WatchInterrupts();

// The request that arrived first, 0 while there is none: the signal number
// (SIGINT for Ctrl+C, SIGTERM for termination) on POSIX.
int InterruptRequested();

// Waits up to timeoutMs for a request; true when there is one (also when it
// came before the call).
bool WaitForInterrupt(int timeoutMs);

// The exit status that a shell expects after the request: 128 + the signal.
int InterruptExitStatus();

}  // namespace tessel
