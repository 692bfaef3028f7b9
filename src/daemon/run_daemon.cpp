// The daemon's life in three steps: start-up, serve, shut-down. Each returns
// its status; run_daemon chains them.
#include "daemon/run_daemon.hpp"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <libmilter/mfapi.h>
#include <memory>
#include <optional>
#include <pthread.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include "checks/spf_cache.hpp"
#include "common/error_text.hpp"
#include "common/log_sink.hpp"
#include "common/paths.hpp"
#include "copyrules/load_copy_rules.hpp"
#include "daemon/command_line.hpp"
#include "daemon/detach.hpp"
#include "daemon/file_limit.hpp"
#include "daemon/filter_description.hpp"
#include "daemon/reload_signal.hpp"
#include "daemon/reload_thread.hpp"
#include "daemon/sendmail_restart.hpp"
#include "daemon/settings_reload.hpp"
#include "daemon/socket_access.hpp"
#include "metrics/metrics_writer.hpp"
#include "mtaconfig/milter_config.hpp"
#include "sandbox/unprivileged_user.hpp"
#include "spamconfig/spam_settings.hpp"
#include "spf/evaluator_pool.hpp"

namespace {

struct free_deleter {
  void operator()(char* text) const { std::free(text); }
};
using owned_text = std::unique_ptr<char, free_deleter>;

// What start-up leaves for serving and shutting down.
struct daemon_run {
  owned_text pid_path{strdup(paths::pid_file)};
  owned_text socket_path{strdup(paths::filter_socket)};
  pthread_t restart_thread{};
  bool restart_started = false;
};

void start_spf_evaluation() {
  std::optional<unprivileged_account> account = find_unprivileged_account(nullptr);
  if (!account || !start_evaluation_processes(*account)) {
    log_line(LOG_CRIT, "SPF evaluation processes cannot be started: no SPF results");
  }
}

// Writes the pid file that start-up opened; returns nothing: a failed write
// leaves an empty pid file, as fopen already succeeded.
void write_pid(FILE* pid_stream) {
  (void)std::fprintf(pid_stream, "%ld\n", static_cast<long>(getpid()));
  (void)std::fclose(pid_stream);
}

// Start-up up to the main loop. Returns the exit status when the daemon must
// end here, nothing when it is ready to serve.
std::optional<int> start_up(int argc, char** argv, daemon_run& run) {
  // SIGUSR1 and SIGUSR2 from here on request reloads; the reload thread
  // started after daemon() serves requests, including those made during
  // start-up.
  install_reload_signal();
  try {
    load_copy_rules(paths::copy_rule_file);
  } catch (const std::exception& error) {
    log_line(LOG_CRIT, "TESLO configure error:%s", error.what());
  }

  std::set_terminate(__gnu_cxx::__verbose_terminate_handler);
  // Both log sockets (ours and glibc's, for libmilter's lines) are opened
  // now, while descriptors are plenty.
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
  // SPF is evaluated in processes of their own, forked by a spawner that
  // must start while this process still has one thread.
  start_spf_evaluation();
  start_reload_thread(paths::copy_rule_file, paths::spam_config_file);

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

  (void)install_spam_settings(paths::spam_config_file);

  if (smfi_register(filter_description) == MI_FAILURE) {
    (void)std::fprintf(stderr, "smfi_register failed\n");
    log_line(LOG_CRIT, "smfi_register failed");
    return 69;
  }
  log_line(LOG_DEBUG, "smfi_register succeeded");
  install_milter_config();

  smfi_setconn(run.socket_path.get());
  log_line(LOG_NOTICE, "KORVAL %s starting", names::version);
  write_pid(pid_stream);
  run.restart_started = start_sendmail_restart_thread(run.restart_thread);

  umask(0177);
  prepare_spf_cache(*current_spam_settings());
  // orvane.conf "metricsfile", as read at start-up: counting and the file.
  if (const char* metrics_path = current_spam_settings()->metricsfile; metrics_path != nullptr) {
    (void)start_metrics_writer(metrics_path, spf_cache_entry_count);
  }
  return std::nullopt;
}

// libmilter's main loop; returns its result.
int serve(const daemon_run& run) {
  // The socket listens before the launcher is let go, so Sendmail (and
  // whoever started us) finds it when the start returns; the main loop takes
  // over the open socket.
  // An MTA running as another user (orvane.conf "socketgroup", as read at
  // start-up) is let in before anyone is told that the filter is ready.
  int loop_result = smfi_opensocket(false);
  if (loop_result != MI_FAILURE) {
    (void)share_socket_with_group(run.socket_path.get(), current_spam_settings()->socketgroup);
    report_daemon_ready();
    loop_result = smfi_main();
  }
  if (loop_result == MI_FAILURE) {
    log_line(LOG_CRIT, "smfi_main error! check socketfile or memory!(/var filesystem broken?)");
  }
  return loop_result;
}

// Shutdown after the main loop; returns the loop's result as the exit status.
int shut_down(int loop_result, daemon_run& run) {
  if (run.restart_started) pthread_join(run.restart_thread, nullptr);
  log_line(LOG_NOTICE, "KORVAL %s exiting", names::version);
  remove_milter_config();
  unlink(run.socket_path.get());
  unlink(run.pid_path.get());
  stop_reload_thread();
  // The last write of the metrics file holds the final counts, the reloads
  // and the SPF cache included.
  stop_metrics_writer();
  stop_evaluation_processes();
  spf_cache_free();
  close_log();
  return loop_result;
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
  reload_thread_stopper stop_reloads_on_return;
  if (std::optional<int> early_exit = start_up(argc, argv, run)) return *early_exit;
  return shut_down(serve(run), run);
}
