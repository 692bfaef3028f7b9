// The root monitor: the process the launcher leaves running (its pid is in
// the pid file; systemd's main pid), once start-up has installed the filter
// into Sendmail's files, written the pid file and opened the filter socket.
//
// It starts the filter process, the program `teslo-filter`
// (filter_launch.hpp: fork, give up root, exec), which serves; it never
// reads a milter connection itself, never asks DNS and never reads the
// copy rules. It stays single-threaded, so it may fork at any time. Between
// the two processes: the channel (monitor_channel.hpp), the listener
// (filter_socket.hpp) and the reload wake-up pipe (reload_signal.hpp). It
// waits for:
// - SIGTERM, SIGHUP, SIGINT: passed on to the filter process, whose main loop
//   then ends; the monitor waits for it and returns its exit status.
//   SIGUSR1 and SIGUSR2 need no passing on: their handler writes into the
//   wake-up pipe that the filter process's reload thread reads.
// - the channel (monitor_channel.hpp): ready lets the launcher go (the first
//   filter process only); metrics are written to the metrics file; a
//   spawner request is answered with a new spawner of the kind asked for
//   (sandbox/process_spawner.hpp: SPF evaluation processes or archive
//   listers), the program `teslo-spawner` started here (fork, give up root
//   for the filter process's account, exec), whose channel end goes to the
//   filter process; the previous spawner of that kind, if any, is killed
//   first, so there is one of each kind at a time.
// - the end of the filter process. One that exits returns its status (a stop,
//   or a start-up failure). One killed by a signal is replaced at once, on
//   the same socket, without touching Sendmail: LOG_CRIT "filter process %ld
//   ended by signal %s; a new one takes over". The sixth within 60 s ends the
//   monitor with status 1 instead: LOG_CRIT "filter process %ld ended by
//   signal %s; more than 5 within 60 s, stopping"; so does one killed while
//   the daemon stops ("... signal %s while stopping").
//
// Other log lines: LOG_ERR "SPF spawner cannot be started: %s";
// LOG_ERR "SPF spawner %ld ended by signal %s" and "SPF spawner %ld exited
// with status %d" for the current SPF spawner (one that ends because the
// filter process closed its channel exits 0 and is not logged); the same
// three with "archive spawner" for the archive listers' spawner;
// LOG_ERR "filter process %ld: %s; its channel is closed"
// for a request the monitor does not serve; LOG_ERR "metrics file %s: %s"
// when the file cannot be written (not repeated while the reason stays);
// LOG_CRIT "filter process cannot be started: %s".
#pragma once

#include <string>

#include "sandbox/unprivileged_user.hpp"

struct monitor_plan {
  unprivileged_account account;  // what the filter process runs as
  const char* metrics_path;      // orvane.conf "metricsfile" at start; null: none
  std::string filter_program;    // the filter program's path
  int listener;                  // the filter socket, listening
  int reload_wakeup;             // the reload wake-up pipe's read end, or -1
};

// Runs until the daemon stops; returns the exit status.
int run_monitor(const monitor_plan& plan);
