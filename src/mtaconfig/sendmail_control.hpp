// Makes a running Sendmail read its configuration again, in its own context.
//
// restart_sendmail (after the filter was installed, from the restart process)
// and reload_sendmail (after it was removed, at shutdown) act only when
// find_sendmail_daemon finds a Sendmail; they never start one.
//
// Under systemd the daemon runs in a hardened unit of its own, and anything
// it started there would live in its sandbox and cgroup. So the restart is a
// job for systemd ("systemctl --no-block restart sendmail.service": queued,
// not waited for, since Sendmail's unit is ordered after ours), and the
// reload is a SIGHUP to the Sendmail daemon, on which Sendmail re-executes
// itself with its configuration read afresh. Without systemd the service
// commands run as they always have ("service sendmail restart|reload"). The
// systemctl call is bounded in time (timeout(1)); the service commands are
// not, since killing an init script half-way could leave Sendmail stopped.
//
// The restart is also left out when the Sendmail daemon started after
// sendmail.cf was last changed: it already reads the filter's lines (at boot,
// where Sendmail starts after the filter, a restart queued while its start
// is still running would make that start fail).
//
// Log lines: LOG_INFO "Sendmail is not running, no restart" / "..., no
// reload" and "Sendmail started after sendmail.cf changed, no restart" when
// there is nothing to do; LOG_ERR "Sendmail restart failed: %s"
// / "Sendmail reload failed: %s" with what went wrong.
#pragma once

#include "mtaconfig/command_runner.hpp"
#include "mtaconfig/sendmail_daemon.hpp"

void restart_sendmail(const sendmail_host& host, command_runner& runner);
void reload_sendmail(const sendmail_host& host, command_runner& runner);
