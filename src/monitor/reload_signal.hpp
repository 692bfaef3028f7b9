// The handler of SIGUSR1, which asks for a reload of the copy rules, and of
// SIGUSR2, which asks for a reload of the spam-check settings.
//
// The handler does only async-signal-safe work: it writes one byte into a
// wake-up pipe, which names what to reload. The reload itself (parsing, allocating, logging) runs on the
// reload thread (reload_thread.hpp), which waits on the other end of the
// pipe. Bytes written during start-up stay in the pipe, which survives
// daemon(), so a signal that arrives before the reload thread exists still
// leads to a reload once it runs.
//
// install_reload_signal runs on the main thread as the first step of
// start-up. Log line on failure: LOG_CRIT "reload signal setup failed: %s".
#pragma once

// What a byte in the wake-up pipe asks for.
inline constexpr char reload_rules_byte = 'r';
inline constexpr char reload_settings_byte = 's';

// Creates the wake-up pipe (once) and installs on_reload_signal for SIGUSR1
// and SIGUSR2.
// Returns false, after logging, when either fails; the daemon then runs on
// without reloads.
bool install_reload_signal();

// The handler: one byte into the wake-up pipe (reload_settings_byte for
// SIGUSR2, reload_rules_byte for anything else), errno preserved. Only a
// pipe filled with 64 KiB of requests that the thread has not yet read can
// refuse the byte.
void on_reload_signal(int signal_number);

// Read end of the wake-up pipe (non-blocking), or -1 before installation.
int reload_wakeup_fd();

// Asks the reload thread to wake up without a reload (used to stop it).
void wake_reload_thread();
