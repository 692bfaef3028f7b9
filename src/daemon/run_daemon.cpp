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

#include "checks/spf_cache_mutex.hpp"
#include "common/log_sink.hpp"
#include "common/paths.hpp"
#include "daemon/filter_description.hpp"

namespace {

struct free_deleter {
  void operator()(char* text) const { std::free(text); }
};
using owned_text = std::unique_ptr<char, free_deleter>;

// -x and -u value are accepted and ignored; getopt reports anything else on
// stderr and the loop ignores it too.
void read_command_line(int argc, char** argv) {
  while (getopt(argc, argv, names::command_options) != -1) {
  }
}

// Writes the pid file that start-up opened; returns nothing: a failed write
// leaves an empty pid file, as fopen already succeeded.
void write_pid(FILE* pid_stream) {
  std::fprintf(pid_stream, "%ld\n", static_cast<long>(getpid()));
  std::fclose(pid_stream);
}

// Shutdown after the main loop (or after a failed mutex initialisation,
// which enters at `mutex_ready == false`).
int shut_down(int loop_result, const char* pid_path, bool mutex_ready) {
  if (mutex_ready) {
    log_line(LOG_NOTICE, "KORVAL %s exiting", names::version);
    unlink(pid_path);
    pthread_mutex_destroy(&spf_cache_mutex);
  }
  close_log();
  return loop_result;
}

}  // namespace

int run_daemon(int argc, char** argv) {
  std::set_terminate(__gnu_cxx::__verbose_terminate_handler);
  open_log(names::log_identity, LOG_PID, LOG_MAIL);

  owned_text pid_path(strdup(paths::pid_file));
  owned_text socket_path(strdup(paths::filter_socket));

  read_command_line(argc, argv);

  if (!socket_path || !pid_path) {
    log_line(LOG_ERR, "Unable double up");
    return 64;
  }

  if (daemon(0, 0) != 0) {
    int error = errno;
    std::fprintf(stderr, "daemon() failed: %s\n", std::strerror(error));
    log_line(LOG_CRIT, "daemon() failed: %s ", std::strerror(error));
    return 1;
  }

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

  if (smfi_register(filter_description) == MI_FAILURE) {
    std::fprintf(stderr, "smfi_register failed\n");
    log_line(LOG_CRIT, "smfi_register failed");
    return 69;
  }
  log_line(LOG_DEBUG, "smfi_register succeeded");

  smfi_setconn(socket_path.get());
  log_line(LOG_NOTICE, "KORVAL %s starting", names::version);
  write_pid(pid_stream);

  if (pthread_mutex_init(&spf_cache_mutex, nullptr) != 0) {
    std::fprintf(stderr, "pthread_mutex_init failed\n");
    return shut_down(0, pid_path.get(), false);
  }

  umask(0177);

  int loop_result = smfi_main();
  if (loop_result == MI_FAILURE) {
    log_line(LOG_CRIT, "smfi_main error! check socketfile or memory!(/var filesystem broken?)");
  }
  return shut_down(loop_result, pid_path.get(), true);
}
