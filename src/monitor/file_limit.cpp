// Raises the open-file limit (see file_limit.hpp).
#include "monitor/file_limit.hpp"

#include <cerrno>
#include <syslog.h>

#include "common/error_text.hpp"
#include "common/log_sink.hpp"

rlim_t raise_open_file_limit() {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return RLIM_INFINITY;
  if (limit.rlim_cur == limit.rlim_max) return limit.rlim_cur;
  rlim_t before = limit.rlim_cur;
  limit.rlim_cur = limit.rlim_max;
  if (setrlimit(RLIMIT_NOFILE, &limit) != 0) {
    log_line(LOG_WARNING, "cannot raise the open-file limit: %s", error_text(errno));
    return before;
  }
  return limit.rlim_cur;
}
