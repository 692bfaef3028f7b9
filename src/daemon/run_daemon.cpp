#include "daemon/run_daemon.hpp"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <libmilter/mfapi.h>
#include <memory>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include "checks/spf_cache.hpp"
#include "checks/spf_cache_mutex.hpp"
#include "common/log_sink.hpp"
#include "common/paths.hpp"
#include "copyrules/load_copy_rules.hpp"
#include "daemon/command_line.hpp"
#include "daemon/detach.hpp"
#include "daemon/filter_description.hpp"
#include "daemon/reload_signal.hpp"
#include "daemon/reload_thread.hpp"
#include "daemon/sendmail_restart.hpp"
#include "daemon/socket_access.hpp"
#include "mtaconfig/milter_config.hpp"
#include "spamconfig/builtin_patterns.hpp"
#include "spamconfig/config_loader.hpp"
#include "spamconfig/spam_config.hpp"

namespace {

struct free_deleter {
  void operator()(char* text) const { std::free(text); }
};
using owned_text = std::unique_ptr<char, free_deleter>;

// Writes the pid file that start-up opened; returns nothing: a failed write
// leaves an empty pid file, as fopen already succeeded.
void write_pid(FILE* pid_stream) {
  std::fprintf(pid_stream, "%ld\n", static_cast<long>(getpid()));
  std::fclose(pid_stream);
}

// Shutdown after the main loop (or after a failed mutex initialisation,
// which enters at `mutex_ready == false`). `restart_thread` is null when the
// restart thread was not started.
int shut_down(int loop_result, const char* pid_path, const char* socket_path, bool mutex_ready,
              const pthread_t* restart_thread) {
  if (mutex_ready) {
    if (restart_thread != nullptr) pthread_join(*restart_thread, nullptr);
    log_line(LOG_NOTICE, "KORVAL %s exiting", names::version);
    remove_milter_config();
    unlink(socket_path);
    unlink(pid_path);
    spf_cache_free();
    pthread_mutex_destroy(&spf_cache_mutex);
  }
  free_spam_config();
  stop_reload_thread();
  close_log();
  return loop_result;
}

}  // namespace

int run_daemon(int argc, char** argv) {
  // Asking for help or the version starts nothing.
  switch (requested(argc, argv)) {
    case command_request::help:
      print_usage(stdout);
      return 0;
    case command_request::version:
      print_version(stdout);
      return 0;
    case command_request::run:
      break;
  }

  // SIGUSR1 from here on requests a reload; the reload thread started after
  // daemon() serves requests, including those made during start-up.
  install_reload_signal();
  try {
    load_copy_rules(paths::copy_rule_file);
  } catch (const std::exception& error) {
    log_line(LOG_CRIT, "TESLO configure error:%s", error.what());
  }

  std::set_terminate(__gnu_cxx::__verbose_terminate_handler);
  open_log(names::log_identity, LOG_PID, LOG_MAIL);

  owned_text pid_path(strdup(paths::pid_file));
  owned_text socket_path(strdup(paths::filter_socket));

  read_command_line(argc, argv);

  if (!socket_path || !pid_path) {
    log_line(LOG_ERR, "Unable double up");
    return 64;
  }

  // The launcher waits until report_daemon_ready() below, or for our exit.
  if (!detach_daemon()) {
    int error = errno;
    std::fprintf(stderr, "daemon() failed: %s\n", std::strerror(error));
    log_line(LOG_CRIT, "daemon() failed: %s ", std::strerror(error));
    return 1;
  }
  start_reload_thread(paths::copy_rule_file);
  reload_thread_stopper stop_reloads_on_return;

  struct stat socket_status;
  if (stat(socket_path.get(), &socket_status) == 0) unlink(socket_path.get());

  unlink(pid_path.get());
  FILE* pid_stream = std::fopen(pid_path.get(), "w");
  if (pid_stream == nullptr) {
    int error = errno;
    std::fprintf(stderr, "Could not open pidfile: %s\n", std::strerror(error));
    log_line(LOG_CRIT, "Could not open pidfile : %s\n", std::strerror(error));
    return 1;
  }

  // address_pattern must be compiled before loading: list entries use it.
  compile_builtin_patterns();
  std::memset(&spam_config, 0, sizeof spam_config);
  if (!load_spam_config(paths::spam_config_file)) {
    std::fprintf(stderr, "WARN:Failed to configuration file.\n");
  }
  compile_disposition_pattern();

  if (smfi_register(filter_description) == MI_FAILURE) {
    std::fprintf(stderr, "smfi_register failed\n");
    log_line(LOG_CRIT, "smfi_register failed");
    return 69;
  }
  log_line(LOG_DEBUG, "smfi_register succeeded");
  install_milter_config();

  smfi_setconn(socket_path.get());
  log_line(LOG_NOTICE, "KORVAL %s starting", names::version);
  write_pid(pid_stream);
  pthread_t restart_thread;
  bool restart_started = start_sendmail_restart_thread(restart_thread);

  if (pthread_mutex_init(&spf_cache_mutex, nullptr) != 0) {
    std::fprintf(stderr, "pthread_mutex_init failed\n");
    return shut_down(0, pid_path.get(), socket_path.get(), false, nullptr);
  }

  umask(0177);

  if (spam_config.ttl != 0 && !spf_cache_init()) {
    log_line(LOG_ERR, "[ERROR] cache engine init failed");
  }

  // The socket listens before the launcher is let go, so Sendmail (and
  // whoever started us) finds it when the start returns; the main loop takes
  // over the open socket.
  // An MTA running as another user (orvane.conf "socketgroup") is let in
  // before anyone is told that the filter is ready.
  int loop_result = smfi_opensocket(false);
  if (loop_result != MI_FAILURE) {
    (void)share_socket_with_group(socket_path.get(), spam_config.socketgroup);
    report_daemon_ready();
    loop_result = smfi_main();
  }
  if (loop_result == MI_FAILURE) {
    log_line(LOG_CRIT, "smfi_main error! check socketfile or memory!(/var filesystem broken?)");
  }
  return shut_down(loop_result, pid_path.get(), socket_path.get(), true,
                   restart_started ? &restart_thread : nullptr);
}
