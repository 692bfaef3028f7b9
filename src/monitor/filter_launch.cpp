// The child's way from the fork to the filter program (see
// filter_launch.hpp).
#include "monitor/filter_launch.hpp"

#include <fcntl.h>
#include <linux/close_range.h>
#include <pthread.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

#include "common/error_text.hpp"
#include "common/log_sink.hpp"
#include "common/paths.hpp"
#include "common/quiet_thread.hpp"
#include "sandbox/drop_privileges.hpp"
#include "sandbox/filter_program.hpp"

namespace {

constexpr int exec_failed_status = 127;

[[noreturn]] void give_up(const char* step, int error, int status) {
  log_line(LOG_CRIT, "filter process cannot %s: %s", step, error_text(error));
  _exit(status);
}

// Copies `fd` above the fixed numbers, so that no move below overwrites a
// descriptor still to be moved; -1 stays -1.
int out_of_the_way(int fd) {
  if (fd < 0) return -1;
  return fcntl(fd, F_DUPFD_CLOEXEC, filter_first_closed_fd);
}

// The three descriptors at their fixed numbers (dup2 leaves them open
// across the exec), everything else above standard error closed.
bool place_descriptors(const filter_launch& launch) {
  int channel = out_of_the_way(launch.channel);
  int listener = out_of_the_way(launch.listener);
  int reload = out_of_the_way(launch.reload_wakeup);
  if (channel < 0 || listener < 0 || (launch.reload_wakeup >= 0 && reload < 0)) return false;
  if (dup2(channel, filter_channel_fd) < 0 || dup2(listener, filter_listener_fd) < 0) return false;
  if (reload >= 0) {
    if (dup2(reload, filter_reload_fd) < 0) return false;
  } else {
    (void)close(filter_reload_fd);
  }
  return syscall(SYS_close_range, filter_first_closed_fd, ~0U, 0) == 0;
}

// The monitor's handlers back to the defaults; the reload signals ignored
// (an ignored signal stays ignored across the exec), since reloads reach
// the filter process through the wake-up pipe and a stray SIGUSR1 must not
// kill it.
void default_signals() {
  for (int number : {SIGTERM, SIGHUP, SIGINT, SIGCHLD, SIGPIPE}) (void)std::signal(number, SIG_DFL);
  for (int number : {SIGUSR1, SIGUSR2}) (void)std::signal(number, SIG_IGN);
  sigset_t mask = signals_of({SIGTERM, SIGHUP, SIGINT});
  pthread_sigmask(SIG_SETMASK, &mask, nullptr);
}

}  // namespace

void become_filter_program(const filter_launch& launch, pid_t monitor_pid) {
  if (!drop_privileges(*launch.account)) give_up("give up its privileges", errno, 1);
  default_signals();
  (void)prctl(PR_SET_PDEATHSIG, SIGKILL, 0, 0, 0);
  if (getppid() != monitor_pid) _exit(1);
  // The log's sockets are the monitor's: closed with the rest, opened
  // again only to say why the exec failed.
  close_log();
  if (!place_descriptors(launch)) {
    int error = errno;
    open_log(names::log_identity, LOG_PID, LOG_MAIL);
    give_up("set up its descriptors", error, 1);
  }
  const char* metrics = launch.metrics ? filter_metrics_argument : nullptr;
  char* const arguments[] = {const_cast<char*>(filter_program_name), const_cast<char*>(metrics),
                             nullptr};
  execv(launch.program->c_str(), arguments);
  int error = errno;
  open_log(names::log_identity, LOG_PID, LOG_MAIL);
  std::string step = "be executed as " + *launch.program;
  give_up(step.c_str(), error, exec_failed_status);
}
