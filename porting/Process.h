#pragma once
// Process-wide services used at start-up and by shell-command builders.
#include <string>

// The text with every ' replaced by '\'' so it can sit inside a single-quoted shell argument.
std::string escape_sh(std::string text);

// Locks all current and future pages of the process so the audio path never waits on a page fault.
// Returns 0, or a negative value after logging why the lock failed. On the host the pages are locked only
// with PEDAL_RT=1, like the real-time priorities; otherwise nothing is locked and 0 is returned.
int lock_memory();

// Fatal-signal handler: prints the signal and a back trace of up to 50 frames to standard error and ends the
// process with status 1.
void handler(int signal);
// Installs handler() for SIGSEGV, SIGTRAP and SIGABRT.
void install_fatal_handler();
