// Detaching from the terminal, with the launcher waiting until the daemon is
// ready.
//
// detach_daemon() does what daemon(0, 0) does (fork, new session, working
// directory "/", standard descriptors on the null device), except that the
// launching process does not exit at once: it waits until the detached
// daemon calls report_daemon_ready() (its pid file is written and its socket
// listens) and then exits 0, or, if the daemon ends before that, exits with
// the daemon's own exit status. So whoever started the daemon (a shell, a
// package script, systemd with Type=forking and PIDFile=) finds the pid file
// and the socket in place when the launcher returns, and learns of a failed
// start from its status.
//
// Main thread, before any other thread exists (threads do not survive the
// fork). The readiness pipe is close-on-exec: no command the daemon runs
// holds the launcher up.
#pragma once

// In the detached daemon: true. In the launcher: never returns. False, with
// errno set, when the fork or the new session failed (in the launcher if
// the fork failed, else in the daemon).
[[nodiscard]] bool detach_daemon();

// Lets the launcher exit 0. Later calls do nothing.
void report_daemon_ready();
