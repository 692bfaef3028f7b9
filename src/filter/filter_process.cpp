// The filter process (see filter_process.hpp).
#include "filter/filter_process.hpp"

#include <cerrno>
#include <cstdlib>
#include <libmilter/mfapi.h>
#include <string>
#include <sys/prctl.h>
#include <syslog.h>
#include <unistd.h>

#include "archive/archive_pool.hpp"
#include "checks/spf_cache.hpp"
#include "common/error_text.hpp"
#include "common/log_sink.hpp"
#include "common/paths.hpp"
#include "sandbox/monitor_channel.hpp"
#include "filter/reload_thread.hpp"
#include "filter/settings_reload.hpp"
#include "filter/spawner_supply.hpp"
#include "message/part_header.hpp"
#include "metrics/metrics_writer.hpp"
#include "sandbox/syscall_filter.hpp"
#include "sandbox/syscall_lists.hpp"
#include "spamconfig/spam_settings.hpp"
#include "spf/evaluator_pool.hpp"

namespace {

int monitor_end = -1;

bool deliver_to_monitor(const std::string&, const std::string& text, std::string& reason) {
  if (send_request(monitor_end, metrics_request, text)) return true;
  reason = std::string("sending to the monitor: ") + error_text(errno);
  return false;
}

[[noreturn]] void give_up(const char* step) {
  log_line(LOG_CRIT, "filter process cannot %s: %s", step, error_text(errno));
  _exit(1);
}

// What the metrics writer's lines call the file the monitor writes: its
// path as this process read it, which is the monitor's unless the file
// changed in between.
std::string metrics_label() {
  const char* path = current_spam_settings()->metricsfile;
  return path != nullptr ? path : "metricsfile";
}

#if defined(__SANITIZE_ADDRESS__)
// AddressSanitizer's leak check at exit stops this process's threads from a
// tracer child (clone, ptrace), which neither the list nor a non-dumpable
// process allows: sanitizer builds, which are never installed, serve without
// the list and stay dumpable. The list is tested in the other builds.
bool load_system_call_list() {
  (void)prctl(PR_SET_DUMPABLE, 1, 0, 0, 0);
  return true;
}
#else
bool load_system_call_list() { return load_syscall_filter(filter_process_calls()); }
#endif

}  // namespace

void run_filter_process(const filter_plan& plan) {
  monitor_end = plan.channel;
  (void)install_spam_settings(paths::spam_config_file);
  use_monitor_for_spawners(monitor_end);
  start_evaluation_processes(spf_spawner_from_monitor);
  start_archive_listers(archive_spawner_from_monitor);
  prepare_spf_cache(*current_spam_settings());
  init_mime_library();  // GMime reads its tables before the list is in force
  if (!load_system_call_list()) {
    // Without seccomp at all (a kernel built without it, valgrind) the
    // process still serves as an unprivileged user with no_new_privs, and
    // says so; any other failure stops it.
    if (errno != ENOSYS) give_up("load its system-call list");
    log_line(LOG_CRIT, "filter process serves without a system-call list: %s", error_text(errno));
  }

  start_reload_thread(plan.reload_wakeup, paths::copy_rule_file, paths::spam_config_file);
  (void)send_request(monitor_end, ready_request);
  if (plan.metrics) {
    set_metrics_delivery(deliver_to_monitor);
    (void)start_metrics_writer(metrics_label(), spf_cache_entry_count);
  }

  int loop_result = smfi_main();
  if (loop_result == MI_FAILURE) {
    log_line(LOG_CRIT, "smfi_main error! check socketfile or memory!(/var filesystem broken?)");
  }
  stop_reload_thread();
  // The last write of the metrics file holds the final counts.
  stop_metrics_writer();
  stop_evaluation_processes();
  stop_archive_listers();
  spf_cache_free();
  close_log();
  // NOLINTNEXTLINE(concurrency-mt-unsafe): the threads this process started are stopped above
  std::exit(loop_result & 0xff);
}
