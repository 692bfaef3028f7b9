// The reload signals' handler and the wake-up pipe (see reload_signal.hpp).
#include "monitor/reload_signal.hpp"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <syslog.h>
#include <unistd.h>

#include "common/error_text.hpp"
#include "common/log_sink.hpp"

namespace {

// Written once before the handler is installed; read by the handler.
std::atomic<int> wakeup_read{-1};
std::atomic<int> wakeup_write{-1};
static_assert(std::atomic<int>::is_always_lock_free, "the handler needs a lock-free fd");

// Moves `fd` above the standard descriptors, which daemon() points at
// /dev/null: a pipe made while one of them was closed would be lost then.
int above_standard_fds(int fd) {
  if (fd > STDERR_FILENO) return fd;
  int moved = fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
  close(fd);
  return moved;
}

bool make_pipe() {
  if (wakeup_read.load() >= 0) return true;
  int ends[2];
  if (pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) return false;
  int read_end = above_standard_fds(ends[0]);
  int write_end = above_standard_fds(ends[1]);
  if (read_end < 0 || write_end < 0) {
    if (read_end >= 0) close(read_end);
    if (write_end >= 0) close(write_end);
    return false;
  }
  wakeup_read.store(read_end);
  wakeup_write.store(write_end);
  return true;
}

void write_wakeup_byte(char byte) {
  int fd = wakeup_write.load(std::memory_order_relaxed);
  if (fd < 0) return;
  ssize_t written = write(fd, &byte, 1);
  (void)written;
}

}  // namespace

bool install_reload_signal() {
  if (!make_pipe()) {
    log_line(LOG_CRIT, "reload signal setup failed: %s", error_text(errno));
    return false;
  }
  struct sigaction action {};
  action.sa_handler = on_reload_signal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  if (sigaction(SIGUSR1, &action, nullptr) != 0 || sigaction(SIGUSR2, &action, nullptr) != 0) {
    log_line(LOG_CRIT, "reload signal setup failed: %s", error_text(errno));
    return false;
  }
  return true;
}

void on_reload_signal(int signal_number) {
  int saved_errno = errno;
  write_wakeup_byte(signal_number == SIGUSR2 ? reload_settings_byte : reload_rules_byte);
  errno = saved_errno;
}

int reload_wakeup_fd() { return wakeup_read.load(); }
