// The filter process: the one process that reads what the network sends.
//
// Forked by the monitor (monitor.hpp) once the filter socket listens, and
// again whenever one died by a signal. In this order, while it has one
// thread: it gives up root for good (the account the monitor chose: setgroups,
// setresgid, setresuid, no_new_privs, not dumpable); reads the copy rules and
// the spam-check settings afresh as that user; sends SPF questions to
// evaluation processes (spf/evaluator_pool.hpp) and archives to lister
// processes (archive/archive_pool.hpp) from then on, each kind's spawner
// asked of the monitor when the first question or archive comes and
// whenever it ended (spawner_supply.hpp); prepares GMime; loads its
// system-call list
// (sandbox/syscall_lists.hpp: filter_process_calls). Then it starts the
// reload thread, tells the monitor it is ready, starts the metrics thread
// (which hands each text to the monitor, the only process that may write the
// file) and serves Sendmail's connections in libmilter's main loop on the
// socket the monitor opened. The monitor's SIGTERM, SIGHUP or SIGINT ends
// the loop; the reload signals reach its reload thread through the wake-up
// pipe it shares with the monitor.
//
// Log lines: LOG_CRIT "TESLO configure error:%s" for a rule file that cannot
// be loaded (unless the monitor logged it at this start); LOG_CRIT "filter process cannot %s: %s" (give up its
// privileges, load its system-call list) before it exits 1 without serving;
// LOG_CRIT "filter process serves without a system-call list: %s" where the
// system has no seccomp filters (ENOSYS; valgrind, for one);
// LOG_CRIT "smfi_main error! check socketfile or memory!(/var filesystem
// broken?)" when the main loop fails; those of the reload and metrics
// threads.
#pragma once

#include "sandbox/unprivileged_user.hpp"

struct filter_plan {
  unprivileged_account account;
  int channel;               // the filter's end of the monitor's channel
  const char* metrics_path;  // orvane.conf "metricsfile" at start; null: none
  bool rule_error_reported;  // the monitor logged this start's broken rule file
};

// Never returns: exits with the main loop's result (0 after a stop, 255 when
// it failed), or 1 when the sandbox cannot be set up.
[[noreturn]] void run_filter_process(const filter_plan& plan);
