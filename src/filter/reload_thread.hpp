// The filter process's thread that reloads the copy rules when the monitor
// gets SIGUSR1 and the spam-check settings when it gets SIGUSR2.
//
// Started by the filter process on its main thread, stopped by its
// shutdown. It waits on the read end of the reload wake-up pipe
// (monitor/reload_signal.hpp; in the filter program descriptor
// filter_reload_fd), into which the monitor's signal handler writes one
// byte per signal; every wake-up (several signals of one kind during one
// reload fold into one more reload) re-reads the rule file and publishes the
// new table whole (copyrules/load_copy_rules.hpp), or re-reads the settings
// file and publishes the new record whole (filter/settings_reload.hpp). Stop
// wakes it through a pipe of its own.
//
// Signals: the thread blocks SIGHUP, SIGTERM and SIGINT, so that only
// libmilter's signal thread stops the daemon. It is the only thread with
// SIGUSR1 and SIGUSR2 open: starting it blocks them on the calling (main)
// thread, and every thread created later inherits that, so a handler of
// theirs (where the process has one, as a test that runs both sides in one
// process does) runs here and never interrupts a worker's system call.
//
// Log lines of each reload: LOG_CRIT "XML configure error:%s" when the file
// is missing or cannot be parsed (the table is then empty), or when this
// process may not read it ("cannot read PATH: REASON; the rules in force
// stay": the table stays as it was), then LOG_INFO "TESLO reload".
// The lines of a settings reload are those of settings_reload.hpp.
// LOG_ERR "reload thread: pthread_create failed" when it cannot start.
#pragma once

// Re-reads `rule_path` into the table in force and writes the log lines.
void reload_copy_rules(const char* rule_path);

// Starts the thread on the wake-up pipe's read end `wakeup` for `rule_path`
// and `spam_config_path` (paths that outlive the thread; without a settings
// path SIGUSR2 reloads nothing). Returns false when `wakeup` is not an open
// descriptor (no reloads then), and after logging when it cannot start.
bool start_reload_thread(int wakeup, const char* rule_path, const char* spam_config_path = nullptr);

// Stops and joins the thread if it runs. A reload in progress completes.
void stop_reload_thread();

// Stops the reload thread when the scope that started it ends, on every
// return path of start-up and shutdown.
struct reload_thread_stopper {
  reload_thread_stopper() = default;
  reload_thread_stopper(const reload_thread_stopper&) = delete;
  reload_thread_stopper& operator=(const reload_thread_stopper&) = delete;
  ~reload_thread_stopper() { stop_reload_thread(); }
};
