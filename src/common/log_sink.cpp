// The daemon's one log sink (see log_sink.hpp): lines go to syslog, through
// syslog_writer when open_log could hand it the connection and through
// glibc's vsyslog otherwise.
#include "common/log_sink.hpp"

#include <syslog.h>

#include "common/syslog_writer.hpp"

void log_line_v(int priority, const char* format, va_list args) {
  if (syslog_writer_active()) {
    syslog_writer_line(priority, format, args);
  } else {
    vsyslog(priority, format, args);
  }
}

void log_line(int priority, const char* format, ...) {
  va_list args;
  va_start(args, format);
  log_line_v(priority, format, args);
  va_end(args);
}

// glibc's syslog stays open too, with the same identity, for libmilter's own
// lines; without LOG_NDELAY it opens no socket of its own until used.
void open_log(const char* identity, int option, int facility) {
  openlog(identity, option, facility);
  (void)syslog_writer_open(identity, option, facility, _PATH_LOG);
}

void close_log() {
  syslog_writer_close();
  closelog();
}
