// The SIGUSR1 handler that asks for a reload of the copy rules.
//
// The handler does only async-signal-safe work: it writes one byte into a
// wake-up pipe. The reload itself (parsing, allocating, logging) runs on the
// reload thread (reload_thread.hpp), which waits on the other end of the
// pipe. Bytes written during start-up stay in the pipe, which survives
// daemon(), so a signal that arrives before the reload thread exists still
// leads to a reload once it runs.
//
// install_reload_signal runs on the main thread as the first step of
// start-up. Log line on failure: LOG_CRIT "reload signal setup failed: %s".
#pragma once

// Creates the wake-up pipe (once) and installs on_reload_signal for SIGUSR1.
// Returns false, after logging, when either fails; the daemon then runs on
// without reloads.
bool install_reload_signal();

// The SIGUSR1 handler: one byte into the wake-up pipe, errno preserved. A full
// pipe already holds a pending request, so a failed write loses nothing.
void on_reload_signal(int signal_number);

// Read end of the wake-up pipe (non-blocking), or -1 before installation.
int reload_wakeup_fd();

// Asks the reload thread to wake up without a signal (used to stop it).
void wake_reload_thread();
