// accept() for libmilter's listener, with a pause when descriptors run out.
//
// libmilter's listener treats EMFILE and ENFILE from accept() as passing
// errors and polls again at once; the pending connection keeps the socket
// readable, so the listener spins a full core until a descriptor comes free,
// and the worker threads that serve the open connections get less of it.
// This definition takes the place of the C library's for the filter
// program (the executable's symbol comes first for libmilter too): it
// accepts the same way and, when no descriptor is left, waits a tenth of a
// second before it returns the error, so new connections wait in the
// socket's backlog while the CPU stays idle. Built into the filter program
// only, not into the root daemon, the tools or the unit tests.
//
// Log line, at most once a minute: LOG_ERR "no descriptor left for a new
// connection (%s); it waits" with the error text.
#include <sys/socket.h>

#include <atomic>
#include <cerrno>
#include <ctime>
#include <syslog.h>
#include <unistd.h>

#include "common/error_text.hpp"
#include "common/log_sink.hpp"

namespace {

constexpr useconds_t exhausted_pause_us = 100000;
constexpr std::time_t log_interval_s = 60;

std::atomic<std::time_t> last_logged{0};

void note_exhaustion(int error) {
  std::time_t now = std::time(nullptr);
  std::time_t before = last_logged.load(std::memory_order_relaxed);
  if (now - before < log_interval_s) return;
  if (!last_logged.compare_exchange_strong(before, now, std::memory_order_relaxed)) return;
  log_line(LOG_ERR, "no descriptor left for a new connection (%s); it waits", error_text(error));
}

}  // namespace

extern "C" int accept(int socket, sockaddr* address, socklen_t* length) {
  int connection = accept4(socket, address, length, 0);
  if (connection < 0 && (errno == EMFILE || errno == ENFILE)) {
    int error = errno;
    note_exhaustion(error);
    usleep(exhausted_pause_us);
    errno = error;
  }
  return connection;
}
