// Detaching with a launcher that waits (see detach.hpp).
#include "monitor/detach.hpp"

#include <cerrno>
#include <fcntl.h>
#include <initializer_list>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// The daemon's end of the readiness pipe, -1 once used (or never made).
int ready_write = -1;

// Moves `fd` above the standard descriptors, which the daemon points at
// the null device.
int above_standard_fds(int fd) {
  if (fd > STDERR_FILENO) return fd;
  int moved = fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
  close(fd);
  return moved;
}

// The launcher: waits for the ready byte, else for the daemon's end.
[[noreturn]] void wait_for_daemon(pid_t daemon, int ready_read) {
  char byte;
  ssize_t got;
  do {
    got = read(ready_read, &byte, 1);
  } while (got < 0 && errno == EINTR);
  if (got == 1) _exit(0);
  int status;
  while (waitpid(daemon, &status, 0) < 0) {
    if (errno != EINTR) _exit(1);
  }
  _exit(WIFEXITED(status) ? WEXITSTATUS(status) : 1);
}

bool to_null_device() {
  int null_fd = open("/dev/null", O_RDWR);
  if (null_fd < 0) return false;
  for (int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) dup2(null_fd, fd);
  if (null_fd > STDERR_FILENO) close(null_fd);
  return true;
}

}  // namespace

bool detach_daemon() {
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) return false;
  int ready_read = above_standard_fds(ends[0]);
  int write_end = above_standard_fds(ends[1]);
  if (ready_read < 0 || write_end < 0) return false;

  pid_t daemon = fork();
  if (daemon < 0) return false;
  if (daemon > 0) {
    close(write_end);
    wait_for_daemon(daemon, ready_read);
  }
  close(ready_read);
  ready_write = write_end;
  if (setsid() < 0) return false;
  if (chdir("/") != 0) return false;
  // As daemon(3): a missing null device leaves the descriptors as they are.
  to_null_device();
  return true;
}

void report_daemon_ready() {
  if (ready_write < 0) return;
  const char byte = 'R';
  ssize_t written;
  do {
    written = write(ready_write, &byte, 1);
  } while (written < 0 && errno == EINTR);
  close(ready_write);
  ready_write = -1;
}
