// The root daemon's three steps (see run_daemon.hpp and main.cpp).
//
// Start-up and shut-down run as the process the launcher leaves running,
// with the privileges it was started with: they edit Sendmail's files, have
// Sendmail restart or reload, write the pid file and open the filter socket.
// Serving is the monitor's (monitor.hpp): it starts the unprivileged filter
// program that handles every byte from the network. Root reads only its own
// keys of orvane.conf (monitor_keys.hpp), never the copy rules or the
// lists: those are the filter process's, which reports their faults.
#include "monitor/run_daemon.hpp"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <sys/stat.h>
#include <sys/wait.h>
#include <syslog.h>
#include <unistd.h>

#include "common/error_text.hpp"
#include "common/log_sink.hpp"
#include "common/paths.hpp"
#include "monitor/command_line.hpp"
#include "monitor/config_access.hpp"
#include "monitor/detach.hpp"
#include "monitor/file_limit.hpp"
#include "monitor/filter_socket.hpp"
#include "monitor/monitor.hpp"
#include "monitor/monitor_keys.hpp"
#include "monitor/reload_signal.hpp"
#include "monitor/sendmail_restart.hpp"
#include "monitor/socket_access.hpp"
#include "mtaconfig/milter_config.hpp"
#include "sandbox/filter_program.hpp"
#include "sandbox/program_path.hpp"
#include "sandbox/unprivileged_user.hpp"

namespace {

// What open_filter_socket's failure makes of the daemon's exit status: 255,
// as libmilter's MI_FAILURE from its main loop did.
constexpr int listener_failure = -1;

// Writes the pid file that start-up opened, readable by anyone whatever the
// file-creation mask; returns nothing: a failed write leaves an empty pid
// file, as fopen already succeeded.
void write_pid(FILE* pid_stream) {
  (void)fchmod(fileno(pid_stream), 0644);
  (void)std::fprintf(pid_stream, "%ld\n", static_cast<long>(getpid()));
  (void)std::fclose(pid_stream);
}

}  // namespace

std::optional<int> start_up(int argc, char** argv, daemon_run& run) {
  // SIGUSR1 and SIGUSR2 from here on request reloads: the wake-up pipe keeps
  // them for the filter process's reload thread, which reads it once it runs.
  install_reload_signal();
  std::set_terminate(__gnu_cxx::__verbose_terminate_handler);
  open_log(names::log_identity, LOG_PID | LOG_NDELAY, LOG_MAIL);
  read_command_line(argc, argv);
  (void)raise_open_file_limit();
  // Found once, as root, from the executable that runs now.
  run.filter_program =
      program_path(find_program_directory(filter_program_name), filter_program_name);

  if (!run.socket_path || !run.pid_path) {
    log_line(LOG_ERR, "Unable double up");
    return 64;
  }

  // The launcher waits until report_daemon_ready(), or for our exit.
  if (!detach_daemon()) {
    int error = errno;
    (void)std::fprintf(stderr, "daemon() failed: %s\n", error_text(error));
    log_line(LOG_CRIT, "daemon() failed: %s ", error_text(error));
    return 1;
  }

  struct stat socket_status;
  if (stat(run.socket_path.get(), &socket_status) == 0) unlink(run.socket_path.get());

  unlink(run.pid_path.get());
  FILE* pid_stream = std::fopen(run.pid_path.get(), "w");
  if (pid_stream == nullptr) {
    int error = errno;
    (void)std::fprintf(stderr, "Could not open pidfile: %s\n", error_text(error));
    log_line(LOG_CRIT, "Could not open pidfile : %s\n", error_text(error));
    return 1;
  }

  // The keys the monitor acts on ("user", "socketgroup", "metricsfile"); the
  // filter process reads the whole file as its own user.
  run.keys = read_monitor_keys(paths::spam_config_file);
  install_milter_config();

  log_line(LOG_NOTICE, "%s %s starting", names::filter_name, names::version);
  write_pid(pid_stream);
  run.restart_process = start_sendmail_restart_process();

  umask(0177);
  return std::nullopt;
}

int serve(const daemon_run& run) {
  // The socket is opened here, with this process's privileges and the mask
  // 0177, and listens before the launcher is let go; every filter process
  // serves on it. An MTA running as another user (orvane.conf
  // "socketgroup") is let in before anyone is told that the filter is ready.
  int listener = open_filter_socket(run.socket_path.get());
  if (listener < 0) {
    log_line(LOG_CRIT, "smfi_main error! check socketfile or memory!(/var filesystem broken?)");
    return listener_failure;
  }
  const monitor_keys& keys = run.keys;
  (void)share_socket_with_group(run.socket_path.get(),
                                keys.socketgroup ? keys.socketgroup->c_str() : nullptr);

  std::optional<unprivileged_account> account = find_unprivileged_account(keys.user.c_str());
  if (!account) return 1;
  warn_unreadable_config(*account,
                         {paths::copy_rule_file, paths::copy_rule_dtd, paths::spam_config_file});
  const char* metrics_path = keys.metricsfile ? keys.metricsfile->c_str() : nullptr;
  return run_monitor({*account, metrics_path, run.filter_program, listener, reload_wakeup_fd()});
}

int shut_down(int status, daemon_run& run) {
  if (run.restart_process > 0) {
    while (waitpid(run.restart_process, nullptr, 0) < 0 && errno == EINTR) {
    }
  }
  log_line(LOG_NOTICE, "%s %s exiting", names::filter_name, names::version);
  remove_milter_config();
  unlink(run.socket_path.get());
  unlink(run.pid_path.get());
  close_log();
  return status;
}
