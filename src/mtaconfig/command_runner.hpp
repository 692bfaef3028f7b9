// The one place the daemon reaches the shell: the Sendmail restart and
// reload commands (sendmail_control.hpp).
//
// Those take a command_runner so unit tests can record the commands and
// script their results instead of running them.
// The real runner does what system() does, except that the shell starts with
// an empty signal mask and default stop signals (the restart process blocks
// them; a Sendmail it restarts must not inherit that). It is used on the main
// thread at start-up and shutdown and once by the restart process. No log
// lines.
#pragma once

#include <string>

class command_runner {
 public:
  virtual ~command_runner() = default;
  // Runs a shell command line and returns what system() returns: 0 when the
  // command exited 0, -1 when no shell could be started, otherwise the
  // wait status.
  virtual int run(const char* command) = 0;
};

// Runs commands with /bin/sh -c, as system() does.
class system_command_runner final : public command_runner {
 public:
  int run(const char* command) override;
};
