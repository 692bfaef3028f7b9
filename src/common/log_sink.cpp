// The daemon's one log sink (see log_sink.hpp): lines go to the writer a test
// installed, or to syslog, through syslog_writer when open_log could hand it
// the connection and through glibc's vsyslog otherwise.
#include "common/log_sink.hpp"

#include <atomic>
#include <cstdio>
#include <syslog.h>

#include "common/syslog_writer.hpp"

namespace {

std::atomic<log_writer> current_writer{nullptr};

}  // namespace

void log_line_v(int priority, const char* format, va_list args) {
  log_writer writer = current_writer.load(std::memory_order_acquire);
  if (writer == nullptr) {
    if (syslog_writer_active()) {
      syslog_writer_line(priority, format, args);
    } else {
      vsyslog(priority, format, args);
    }
    return;
  }
  char text[2048];
  (void)std::vsnprintf(text, sizeof text, format, args);
  writer(priority, text);
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
  (void)syslog_writer_open(identity, option, facility);
}

void close_log() {
  syslog_writer_close();
  closelog();
}

log_writer set_log_writer(log_writer writer) {
  return current_writer.exchange(writer, std::memory_order_acq_rel);
}
