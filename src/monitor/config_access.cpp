// Checking the configuration files as the filter's user (see
// config_access.hpp).
#include "monitor/config_access.hpp"

#include <fcntl.h>
#include <sys/wait.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "common/error_text.hpp"
#include "common/log_sink.hpp"
#include "sandbox/drop_privileges.hpp"

namespace {

// In the child: one byte per path, the errno of a refused open or 0.
[[noreturn]] void try_as_user(const unprivileged_account& account,
                              const std::vector<const char*>& paths, int report) {
  std::vector<unsigned char> errors(paths.size(), 0);
  if (drop_privileges(account)) {
    for (std::size_t index = 0; index < paths.size(); ++index) {
      int fd = open(paths[index], O_RDONLY | O_CLOEXEC);
      if (fd >= 0) {
        close(fd);
      } else if (errno == EACCES || errno == EPERM) {
        errors[index] = static_cast<unsigned char>(errno);
      }
    }
  }
  ssize_t written = write(report, errors.data(), errors.size());
  _exit(written == static_cast<ssize_t>(errors.size()) ? 0 : 1);
}

}  // namespace

void warn_unreadable_config(const unprivileged_account& account,
                            std::initializer_list<const char*> paths) {
  if (!account.switch_needed) return;
  std::vector<const char*> files(paths);
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) return;
  pid_t child = fork();
  if (child == 0) {
    close(ends[0]);
    try_as_user(account, files, ends[1]);
  }
  close(ends[1]);
  std::vector<unsigned char> errors(files.size(), 0);
  if (child > 0) {
    ssize_t got;
    do {
      got = read(ends[0], errors.data(), errors.size());
    } while (got < 0 && errno == EINTR);
    while (waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
    }
  }
  close(ends[0]);
  for (std::size_t index = 0; index < files.size(); ++index) {
    if (errors[index] != 0) {
      log_line(LOG_WARNING, "%s cannot be read by user %s: %s", files[index], account.name.c_str(),
               error_text(errors[index]));
    }
  }
}
