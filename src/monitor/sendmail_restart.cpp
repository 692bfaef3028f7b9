#include "monitor/sendmail_restart.hpp"

#include <pthread.h>
#include <sys/types.h>

#include <chrono>
#include <csignal>
#include <syslog.h>
#include <thread>
#include <unistd.h>

#include "common/log_sink.hpp"
#include "common/quiet_thread.hpp"
#include "mtaconfig/sendmail_control.hpp"

namespace {

constexpr unsigned restart_delay_seconds = 3;

// The signals that stop the daemon.
sigset_t stop_signals() { return signals_of({SIGHUP, SIGTERM, SIGINT}); }

}  // namespace

void restart_running_sendmail(const sendmail_host& host, command_runner& runner,
                              unsigned delay_seconds) {
  // Waits the whole delay, also when a signal handler runs meanwhile.
  std::this_thread::sleep_for(std::chrono::seconds(delay_seconds));
  restart_sendmail(host, runner);
}

pid_t start_sendmail_restart_process(const sendmail_restart_job* job) {
  sigset_t signals = stop_signals();
  sigset_t previous;
  pthread_sigmask(SIG_BLOCK, &signals, &previous);
  pid_t pid = fork();
  if (pid == 0) {
    if (job == nullptr) {
      system_command_runner runner;
      restart_running_sendmail(default_sendmail_host(), runner, restart_delay_seconds);
    } else {
      restart_running_sendmail(job->host, *job->runner, job->delay_seconds);
    }
    _exit(0);
  }
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  if (pid < 0) log_line(LOG_ERR, "pthread create error! Sendmail cannot be restart ");
  return pid;
}
