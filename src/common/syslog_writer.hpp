// A syslog client that sends the same datagrams as the C library's syslog()
// with less work per line.
//
// glibc formats the time stamp with localtime_r and strftime for every line
// and builds the datagram through a memory stream; at two lines per message
// that was a seventh of the daemon's instructions. This client writes the
// identical bytes ("<PRI>Mmm dd hh:mm:ss IDENT[PID]: text") to the same
// socket, "/dev/log" in the daemon (a datagram socket, or a stream socket
// with a final NUL when the log daemon offers only that), reconnects once
// when a send fails and drops the line when that fails too, as glibc does
// without LOG_CONS.
// The time stamp is formatted once per second per thread.
//
// Fast path, kept for this figure: the two log lines of a message cost
// 12,147 instructions through glibc and 4,501 through this client, every
// check on (bench/callgrind.sh, bench/README.md), a sixth of the daemon's
// 52,044 per message. Its equivalence test against the plain way:
// syslog_header.matches_glibc_stamp_identity_and_pid (tests/common).
//
// Used by log_sink (the daemon's one log sink) only. syslog_writer_open
// runs on the main thread at start-up; syslog_writer_line from any thread
// (the socket is guarded by a mutex of its own).
#pragma once

#include <sys/types.h>

#include <cstdarg>
#include <cstddef>
#include <ctime>

// Takes over from openlog when it can produce exactly what glibc would for
// `option` (LOG_PID, LOG_NDELAY, LOG_ODELAY, LOG_NOWAIT); returns false (and
// does nothing) for LOG_CONS or LOG_PERROR, which stay with glibc's syslog.
// Lines go to the log daemon's socket at `socket_path` (the daemon passes
// _PATH_LOG, "/dev/log"). `identity` and `socket_path` must stay valid until
// syslog_writer_close, as the identity must with openlog.
bool syslog_writer_open(const char* identity, int option, int facility, const char* socket_path);

// True between a successful syslog_writer_open and syslog_writer_close.
bool syslog_writer_active();

// Sends one line (the printf format and its arguments, %m included).
[[gnu::format(printf, 2, 0)]] void syslog_writer_line(int priority, const char* format,
                                                      va_list args);

// Closes the socket; later lines go to glibc's syslog again.
void syslog_writer_close();

// The datagram header for a line at `priority` (facility already merged)
// logged at `when`: "<PRI>Mmm dd hh:mm:ss IDENT[PID]: " (no "[PID]" when
// `pid` is 0). Returns its length, or 0 when it does not fit in `size`.
// Exposed for tests.
std::size_t syslog_header(char* out, std::size_t size, int priority, std::time_t when,
                          const char* identity, pid_t pid);
