// The test programs' log sink (see log_writer.hpp), linked in place of the
// daemon's (src/common/log_sink.cpp): the same functions, no syslog.
#include "support/log_writer.hpp"

#include <atomic>
#include <cstdio>

#include "common/log_sink.hpp"

namespace {

std::atomic<log_writer> current_writer{nullptr};

}  // namespace

void log_line_v(int priority, const char* format, va_list args) {
  log_writer writer = current_writer.load(std::memory_order_acquire);
  if (writer == nullptr) return;
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

void open_log(const char* /*identity*/, int /*option*/, int /*facility*/) {}

void close_log() {}

log_writer set_log_writer(log_writer writer) {
  return current_writer.exchange(writer, std::memory_order_acq_rel);
}
