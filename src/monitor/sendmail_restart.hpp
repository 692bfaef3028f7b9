// The one-shot Sendmail restart after start-up.
//
// Start-up installs the filter into sendmail.cf before the filter socket
// listens; the restart process waits three seconds (by then the filter
// listens), then restarts Sendmail if, and only if, it is running, so that
// it reads the new configuration (restart_sendmail, which finds Debian's
// sendmail-mta as well, goes through systemd where systemd runs, and logs a
// skipped or failed restart). It never starts a stopped Sendmail and watches
// nothing afterwards.
//
// It is a child process, so the monitor stays single-threaded. The child
// runs with SIGHUP, SIGTERM and SIGINT blocked (forked with them blocked, so
// there is no window): a stop signal sent to the whole group in the first
// seconds leaves the restart to finish, and the monitor's orderly shutdown
// waits for it before taking the filter out of Sendmail's configuration.
//
// Started by start-up on the main thread; waited for by shutdown.
#pragma once

#include <sys/types.h>

#include "mtaconfig/command_runner.hpp"
#include "mtaconfig/sendmail_daemon.hpp"

// What the child runs: tests pass their own host, runner and no delay.
struct sendmail_restart_job {
  sendmail_host host;
  command_runner* runner;
  unsigned delay_seconds;
};

// Sleeps, then restarts a running Sendmail through the runner.
void restart_running_sendmail(const sendmail_host& host, command_runner& runner,
                              unsigned delay_seconds);

// Forks the child with the three stop signals blocked; the caller's mask is
// left as it was. Without a job the child runs the real commands after 3
// seconds. Returns the child's pid for the caller to wait for, or -1 after
// "pthread create error! Sendmail cannot be restart " at LOG_ERR.
pid_t start_sendmail_restart_process(const sendmail_restart_job* job = nullptr);
