// The root daemon's life in three steps: start-up, serve, shut-down
// (main.cpp chains them). Main thread only.
#pragma once

#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <sys/types.h>

#include "common/paths.hpp"
#include "monitor/monitor_keys.hpp"

struct daemon_run {
  struct free_deleter {
    void operator()(char* text) const { std::free(text); }
  };
  using owned_text = std::unique_ptr<char, free_deleter>;

  owned_text pid_path{strdup(paths::pid_file)};
  owned_text socket_path{strdup(paths::filter_socket)};
  pid_t restart_process = -1;
  monitor_keys keys;           // orvane.conf as root reads it
  std::string filter_program;  // the filter program's path
};

// Reload signal, log, command line, open-file limit, detaching (the
// launcher waits), stale socket, pid file, the monitor's keys, Sendmail's
// configuration, the start line, the pid, the Sendmail restart process, the
// mask 0177. The exit status when the daemon must end here (1 or 64),
// nothing when it may serve.
std::optional<int> start_up(int argc, char** argv, daemon_run& run);

// Opens the filter socket and runs the monitor until the daemon stops;
// returns the exit status (-1, which exits 255, when the socket cannot be
// opened; 1 when no unprivileged account exists; else the monitor's).
int serve(const daemon_run& run);

// Waits for the restart process, logs the exit, takes the filter out of
// Sendmail's configuration, removes the socket and the pid file, closes the
// log; returns `status`.
int shut_down(int status, daemon_run& run);
