// teslo-filter, the filter process: the one process that reads what the
// network sends. Installed in /usr/libexec/teslo; started only by the root
// monitor (monitor/filter_launch.hpp), already as the unprivileged account,
// once at start and again whenever one died by a signal.
//
// Descriptors it finds (sandbox/filter_program.hpp):
//   3  the filter's end of the monitor's channel (monitor_channel.hpp)
//   4  the listener: the filter socket, listening (monitor/filter_socket.hpp)
//   5  the reload wake-up pipe's read end (monitor/reload_signal.hpp), or
//      closed when the monitor has none
// and standard input, output and error on the null device. Argument:
// "--metrics" when the monitor writes a metrics file. Any other argument,
// and a start as root (only the monitor's child, which has given up root,
// may start it), exits 64 without serving.
//
// Its life, in order:
// 1. Not dumpable: no process of the same user may trace it or read its
//    memory (sanitizer builds make themselves dumpable again later, as
//    filter_process.cpp explains). Descriptors 3 and 5 close-on-exec.
// 2. The copy rules, read as its own user before the log is opened: a rule
//    file that cannot be loaded gives an empty table and LOG_CRIT "TESLO
//    configure error:%s" with the C library's default identity (the
//    program's name) and facility (user).
// 3. The log opened ("KORVAL", LOG_PID, LOG_MAIL), its sockets made now
//    while the system-call list does not yet apply.
// 4. Registration with libmilter: smfi_register (on failure "smfi_register
//    failed" on standard error and at LOG_CRIT, exit 69; else LOG_DEBUG
//    "smfi_register succeeded"), smfi_setconn with the fixed socket path,
//    then smfi_opensocket, whose bind() takes the inherited listener
//    (listener_adoption.hpp); when that fails, LOG_CRIT "smfi_main error!
//    check socketfile or memory!(/var filesystem broken?)" and exit 255.
// 5. run_filter_process (filter_process.hpp): settings, helpers, system-call
//    list, reload thread, ready, metrics, libmilter's main loop until the
//    monitor's stop signal, then its exit with the loop's result.
#include <fcntl.h>
#include <libmilter/mfapi.h>
#include <sys/prctl.h>
#include <syslog.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <exception>

#include "common/log_sink.hpp"
#include "common/paths.hpp"
#include "copyrules/load_copy_rules.hpp"
#include "filter/filter_description.hpp"
#include "filter/filter_process.hpp"
#include "filter/listener_adoption.hpp"
#include "sandbox/filter_program.hpp"

namespace {

constexpr int usage_status = 64;
constexpr int register_failed_status = 69;
constexpr int listener_failed_status = 255;

// libmilter takes the path as char*: a writable copy of the fixed one.
char socket_path[sizeof paths::filter_socket];

void load_rules() {
  try {
    load_copy_rules(paths::copy_rule_file);
  } catch (const std::exception& error) {
    log_line(LOG_CRIT, "TESLO configure error:%s", error.what());
  }
}

bool register_filter() {
  if (smfi_register(filter_description) == MI_FAILURE) {
    (void)std::fprintf(stderr, "smfi_register failed\n");
    log_line(LOG_CRIT, "smfi_register failed");
    return false;
  }
  log_line(LOG_DEBUG, "smfi_register succeeded");
  return true;
}

bool take_listener() {
  std::memcpy(socket_path, paths::filter_socket, sizeof socket_path);
  (void)smfi_setconn(socket_path);
  adopt_listener_at_bind(filter_listener_fd, socket_path);
  if (smfi_opensocket(false) == MI_FAILURE || !listener_adopted()) {
    log_line(LOG_CRIT, "smfi_main error! check socketfile or memory!(/var filesystem broken?)");
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  (void)prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
  bool metrics = argc == 2 && std::strcmp(argv[1], filter_metrics_argument) == 0;
  if (argc > 2 || (argc == 2 && !metrics)) return usage_status;
  if (getuid() == 0 || geteuid() == 0) return usage_status;
  for (int fd : {filter_channel_fd, filter_reload_fd}) (void)fcntl(fd, F_SETFD, FD_CLOEXEC);
  load_rules();
  std::set_terminate(__gnu_cxx::__verbose_terminate_handler);
  open_log(names::log_identity, LOG_PID | LOG_NDELAY, LOG_MAIL);
  if (!register_filter()) return register_failed_status;
  if (!take_listener()) return listener_failed_status;
  run_filter_process({filter_channel_fd, filter_reload_fd, metrics});
}
