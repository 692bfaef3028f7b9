// The one-shot Sendmail restart after start-up.
//
// Start-up installs the filter into sendmail.cf before the filter socket
// listens; sendmail_restart_thread waits three seconds (by then the main loop
// listens), then restarts Sendmail if, and only if, it is running, so that
// it reads the new configuration (restart_sendmail, which finds Debian's
// sendmail-mta as well, goes through systemd where systemd runs, and logs a
// skipped or failed restart). It never starts a stopped Sendmail and watches
// nothing afterwards.
//
// The thread runs with SIGHUP, SIGTERM and SIGINT blocked (it is created with
// them blocked, so there is no window), so a stop signal in the first
// seconds always reaches libmilter's signal thread and the orderly shutdown
// that takes the filter out of Sendmail's configuration again, instead of
// killing the process through the thread's default disposition.
//
// Created by start-up on the main thread; joined by shutdown.
#pragma once

#include <pthread.h>
#include <sys/types.h>

#include "mtaconfig/command_runner.hpp"
#include "mtaconfig/sendmail_daemon.hpp"

// What the thread runs: tests pass their own host, runner and no delay.
struct sendmail_restart_job {
  sendmail_host host;
  command_runner* runner;
  unsigned delay_seconds;
};

// Sleeps, then restarts a running Sendmail through the runner.
void restart_running_sendmail(const sendmail_host& host, command_runner& runner,
                              unsigned delay_seconds);

// The thread function. A null argument runs the commands for real
// after 3 seconds; otherwise the argument is a sendmail_restart_job, which
// must outlive the thread. Returns a null result.
void* sendmail_restart_thread(void* job);

// Creates the thread with the three stop signals blocked. On failure logs
// "pthread create error! Sendmail cannot be restart " at LOG_ERR and returns
// false (there is then nothing to join).
[[nodiscard]] bool start_sendmail_restart_thread(pthread_t& handle,
                                                 sendmail_restart_job* job = nullptr);

// The same restart in a child process of its own (the real commands, after
// 3 seconds), for a process that must stay single-threaded. Returns its pid
// for the caller to wait for, or -1 after the LOG_ERR line above.
pid_t start_sendmail_restart_process();
