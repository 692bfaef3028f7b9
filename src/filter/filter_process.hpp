// The filter process's work once the filter program (main.cpp) has set
// itself up: the one process that reads what the network sends.
//
// The program runs as the unprivileged account the monitor chose, with the
// copy rules loaded, the log open and libmilter registered on the
// listener. run_filter_process then, in this order, while the process has
// one thread: reads the spam-check settings as that user; sends SPF
// questions to evaluation processes (spf/evaluator_pool.hpp) and archives
// to lister processes (archive/archive_pool.hpp) from then on, each kind's
// spawner asked of the monitor when the first question or archive comes and
// whenever it ended (spawner_supply.hpp); prepares the SPF cache and GMime;
// loads its system-call list (sandbox/syscall_lists.hpp:
// filter_process_calls). Then it starts the reload thread on the wake-up
// pipe, tells the monitor it is ready, starts the metrics thread (which
// hands each text to the monitor, the only process that may write the file)
// and serves Sendmail's connections in libmilter's main loop. The monitor's
// SIGTERM, SIGHUP or SIGINT ends the loop.
//
// Log lines: LOG_CRIT "filter process cannot %s: %s" (load its system-call
// list) before it exits 1 without serving; LOG_CRIT "filter process serves
// without a system-call list: %s" where the system has no seccomp filters
// (ENOSYS; valgrind, for one); LOG_CRIT "smfi_main error! check socketfile
// or memory!(/var filesystem broken?)" when the main loop fails; those of
// the reload and metrics threads.
#pragma once

struct filter_plan {
  int channel;        // the filter's end of the monitor's channel
  int reload_wakeup;  // the reload wake-up pipe's read end
  bool metrics;       // the monitor writes a metrics file: send it the texts
};

// Never returns: exits with the main loop's result (0 after a stop, 255 when
// it failed), or 1 when the system-call list cannot be loaded.
[[noreturn]] void run_filter_process(const filter_plan& plan);
