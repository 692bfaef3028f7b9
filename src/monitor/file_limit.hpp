// The open-file limit of the daemon.
//
// Every SMTP connection that Sendmail hands over holds one descriptor for as
// long as it lasts, a stalled one included; the default soft limit of a
// service (1024) is reached by a thousand slow clients. The root daemon's
// start-up raises the soft limit to the hard one (which the systemd unit sets
// with LimitNOFILE=); the filter process inherits it across fork and exec.
//
// Log line: LOG_WARNING "cannot raise the open-file limit: %s" (it stays as
// it was).
#pragma once

#include <sys/resource.h>

// Raises the soft open-file limit to the hard limit; returns the soft limit
// in force afterwards.
rlim_t raise_open_file_limit();
