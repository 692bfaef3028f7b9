// The root monitor's handler of SIGUSR1, which asks for a reload of the copy
// rules, and of SIGUSR2, which asks for a reload of the spam-check settings,
// and the reload wake-up pipe it writes into.
//
// The reload wake-up pipe: made once by install_reload_signal, both ends
// non-blocking and close-on-exec. The monitor keeps both ends for its whole
// life; the read end is handed to every filter process at descriptor
// filter_reload_fd (sandbox/filter_program.hpp), whose reload thread
// (filter/reload_thread.hpp) waits on it and does the reload itself
// (parsing, allocating, logging). The handler does only async-signal-safe
// work: it writes one byte, which names what to reload. Bytes written
// during start-up, or while a filter process is being replaced, stay in
// the pipe, so a signal that arrives before a reload thread runs still
// leads to a reload once one does.
//
// install_reload_signal runs on the main thread as the first step of
// start-up. Log line on failure: LOG_CRIT "reload signal setup failed: %s".
#pragma once

#include "sandbox/filter_program.hpp"  // the bytes of the wake-up pipe

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
