// Ctrl+C and the system's request to terminate, for a program that runs in a
// terminal: once watched, such a request no longer ends the process; it is
// kept as a flag that the program looks at where it can stop safely, and it
// wakes a wait for it at once. Each platform supplies its own form (signal
// handlers here, a console control handler on Windows).
#pragma once

namespace tessel {

// What a hang-up (SIGHUP: the terminal or the SSH session gone) means for
// the program: a command run from a terminal ends as on termination; an
// unattended service may take it as a request to read its settings again.
enum class HangUp {
    Ends,     // a request like Ctrl+C and termination (128 + SIGHUP)
    Counted,  // not a request: counted (HangUpsReceived) and it wakes waits
};

// Starts watching (once per process; later calls do nothing). No signal is
// blocked for any thread, so commands started afterwards begin with the
// normal signal mask.
void WatchInterrupts(HangUp hangUp = HangUp::Ends);

// The request that arrived first, 0 while there is none: the signal number
// (SIGINT for Ctrl+C, SIGTERM for termination, SIGHUP for a hang-up) on
// POSIX.
int InterruptRequested();

// Waits up to timeoutMs for a request; true when there is one (also when it
// came before the call). With HangUp::Counted a hang-up also ends the wait
// early (answering false), so that the caller looks at HangUpsReceived().
bool WaitForInterrupt(int timeoutMs);

// How many hang-ups came while watched with HangUp::Counted.
unsigned HangUpsReceived();

// The exit status that a shell expects after the request: 128 + the signal.
int InterruptExitStatus();

// A reader of the output that goes away (a closed pipe) makes the writes
// fail instead of ending the process: the run goes on to its end, its
// logfile and its own exit status. Commands started afterwards begin with
// the normal disposition.
void KeepRunningWithoutReader();

}  // namespace tessel
