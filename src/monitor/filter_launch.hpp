// The start of a filter program, in the monitor's child.
//
// The monitor forks with its signals blocked; the child, still root and a
// copy of the monitor, in this order: gives up root for good as the chosen
// account (sandbox/drop_privileges.hpp); puts the monitor's signals back to
// their defaults, SIGUSR1 and SIGUSR2 ignored (reloads come through the
// wake-up pipe), and opens every signal but SIGHUP, SIGTERM and SIGINT
// (those stay blocked until libmilter's signal thread waits for them, so a
// stop sent during the start is not lost); asks for SIGKILL when the
// monitor dies (after the change of user, which would clear it) and exits
// 1 if the monitor is already gone; moves the channel, the listener and
// the reload pipe's read end to the fixed descriptors of
// sandbox/filter_program.hpp and closes every other descriptor above
// standard error (nothing of the monitor's: not its signal pipe, not the
// launcher's readiness pipe, not the log); then execs the filter program.
//
// Log lines (LOG_CRIT, then the child exits without serving): "filter
// process cannot %s: %s" with "give up its privileges" (exit 1), "set up
// its descriptors" (exit 1) or "be executed as PATH" (exit 127). The
// monitor treats those exits as any exit of a filter process: it stops.
#pragma once

#include <sys/types.h>

#include <string>

#include "sandbox/unprivileged_user.hpp"

struct filter_launch {
  const unprivileged_account* account;
  const std::string* program;  // the filter program's path, found at start
  int channel;                 // the filter's end of the channel
  int listener;                // the filter socket
  int reload_wakeup;           // the reload pipe's read end, or -1
  bool metrics;                // the monitor writes a metrics file
};

// In the child, right after the fork. Never returns.
[[noreturn]] void become_filter_program(const filter_launch& launch, pid_t monitor_pid);
