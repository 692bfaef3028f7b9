// The daemon's life in three steps: start-up, serve, shut-down. Each returns
// its status; run_daemon chains them.
//
// Start-up and shut-down run as the process the launcher leaves running,
// with the privileges it was started with: they edit Sendmail's files, have
// Sendmail restart or reload, write the pid file and open the filter socket.
// Serving is the monitor's (monitor.hpp): it forks the unprivileged filter
// process that handles every byte from the network.
#include "monitor/run_daemon.hpp"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <libmilter/mfapi.h>
#include <memory>
#include <optional>
#include <sys/stat.h>
#include <sys/wait.h>
#include <syslog.h>
#include <unistd.h>

#include "common/error_text.hpp"
#include "common/log_sink.hpp"
#include "common/paths.hpp"
#include "copyrules/load_copy_rules.hpp"
#include "monitor/command_line.hpp"
#include "monitor/config_access.hpp"
#include "monitor/detach.hpp"
#include "monitor/file_limit.hpp"
#include "filter/filter_description.hpp"
#include "monitor/monitor.hpp"
#include "monitor/reload_signal.hpp"
#include "monitor/sendmail_restart.hpp"
#include "filter/settings_reload.hpp"
#include "monitor/socket_access.hpp"
#include "mtaconfig/milter_config.hpp"
#include "sandbox/unprivileged_user.hpp"
#include "spamconfig/spam_settings.hpp"

namespace {

struct free_deleter {
  void operator()(char* text) const { std::free(text); }
};
using owned_text = std::unique_ptr<char, free_deleter>;

// What start-up leaves for serving and shutting down.
struct daemon_run {
  owned_text pid_path{strdup(paths::pid_file)};
  owned_text socket_path{strdup(paths::filter_socket)};
  pid_t restart_process = -1;
  bool rule_error_reported = false;
};

// Writes the pid file that start-up opened, readable by anyone whatever the
// file-creation mask; returns nothing: a failed write leaves an empty pid
// file, as fopen already succeeded.
void write_pid(FILE* pid_stream) {
  (void)fchmod(fileno(pid_stream), 0644);
  (void)std::fprintf(pid_stream, "%ld\n", static_cast<long>(getpid()));
  (void)std::fclose(pid_stream);
}

// Start-up up to the monitor. Returns the exit status when the daemon must
// end here, nothing when the socket may be opened.
std::optional<int> start_up(int argc, char** argv, daemon_run& run) {
  // SIGUSR1 and SIGUSR2 from here on request reloads: the wake-up pipe keeps
  // them for the filter process's reload thread, which reads it once it runs.
  install_reload_signal();
  // The rule file is checked before the log is opened, so a broken one is
  // reported with the C library's default identity and facility; the filter
  // process loads it as its own user (and does not report the same fault
  // again at this start).
  try {
    (void)read_copy_rule_file(paths::copy_rule_file);
  } catch (const std::exception& error) {
    log_line(LOG_CRIT, "TESLO configure error:%s", error.what());
    run.rule_error_reported = true;
  }

  std::set_terminate(__gnu_cxx::__verbose_terminate_handler);
  // Both log sockets (ours and glibc's, for libmilter's lines) are opened
  // now, while descriptors are plenty; the filter process inherits them.
  open_log(names::log_identity, LOG_PID | LOG_NDELAY, LOG_MAIL);
  read_command_line(argc, argv);
  (void)raise_open_file_limit();

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

  // The settings the monitor needs ("user", "socketgroup", "metricsfile");
  // the filter process reads the file again as its own user.
  (void)install_spam_settings(paths::spam_config_file);

  if (smfi_register(filter_description) == MI_FAILURE) {
    (void)std::fprintf(stderr, "smfi_register failed\n");
    log_line(LOG_CRIT, "smfi_register failed");
    return 69;
  }
  log_line(LOG_DEBUG, "smfi_register succeeded");
  install_milter_config();

  smfi_setconn(run.socket_path.get());
  log_line(LOG_NOTICE, "%s %s starting", names::filter_name, names::version);
  write_pid(pid_stream);
  run.restart_process = start_sendmail_restart_process();

  umask(0177);
  return std::nullopt;
}

// Opens the socket, then hands over to the monitor; returns the exit status.
int serve(const daemon_run& run) {
  // The socket is opened here, with this process's privileges and the mask
  // 0177, and listens before the launcher is let go; the filter process's
  // main loop takes over the open socket. An MTA running as another user
  // (orvane.conf "socketgroup", as read at start-up) is let in before anyone
  // is told that the filter is ready.
  if (smfi_opensocket(false) == MI_FAILURE) {
    log_line(LOG_CRIT, "smfi_main error! check socketfile or memory!(/var filesystem broken?)");
    return MI_FAILURE;
  }
  const spam_config_record& settings = *current_spam_settings();
  (void)share_socket_with_group(run.socket_path.get(), settings.socketgroup);

  std::optional<unprivileged_account> account = find_unprivileged_account(settings.user);
  if (!account) return 1;
  warn_unreadable_config(*account,
                         {paths::copy_rule_file, paths::copy_rule_dtd, paths::spam_config_file});
  return run_monitor({*account, settings.metricsfile, run.rule_error_reported});
}

// Shutdown after the filter process ended; returns `status`.
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

}  // namespace

int run_daemon(int argc, char** argv) {
  // Asking for help or the version starts nothing.
  switch (requested(argc, argv)) {
    case command_request::help: print_usage(stdout); return 0;
    case command_request::version: print_version(stdout); return 0;
    case command_request::run: break;
  }
  daemon_run run;
  if (std::optional<int> early_exit = start_up(argc, argv, run)) return *early_exit;
  return shut_down(serve(run), run);
}
