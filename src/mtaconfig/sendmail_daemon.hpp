// Finds the running Sendmail daemon, wherever the host runs it.
//
// Debian runs it as /usr/sbin/sendmail-mta with the pid file that
// sendmail.cf names ("O PidFile=/var/run/sendmail/mta/sendmail.pid");
// Sendmail's own default is /var/run/sendmail.pid, and a Sendmail started by
// hand is named "sendmail". So the daemon is the process named in either pid
// file if its name is "sendmail" or "sendmail-mta" (a stale pid file whose
// number now belongs to another process does not count), else the first
// process with one of those names.
//
// Reads files only (sendmail.cf, the pid files, <proc>/<pid>/comm); no log
// lines. Any thread.
#pragma once

#include <sys/types.h>

// Where a host keeps what the search reads; the paths are parameters so
// tests can point them at a scratch directory.
struct sendmail_host {
  const char* sendmail_cf;       // read for "O PidFile="
  const char* default_pid_file;  // Sendmail's default pid file
  const char* proc_dir;          // the process table, normally /proc
  const char* systemd_marker;    // exists when systemd runs the host
};

// The fixed paths of the daemon (paths.hpp).
sendmail_host default_sendmail_host();

// The pid of the running Sendmail daemon, or 0 when none runs.
pid_t find_sendmail_daemon(const sendmail_host& host);

// True when the process `pid` is known to have started after sendmail.cf
// was last changed, so it runs with the file as it is now. False when it
// started before, or when either time cannot be read (<proc>/<pid>/stat).
bool started_after_config(const sendmail_host& host, pid_t pid);

// True when systemd is the host's service manager.
bool runs_under_systemd(const sendmail_host& host);
