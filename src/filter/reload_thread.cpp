#include "filter/reload_thread.hpp"

#include <cerrno>
#include <csignal>
#include <exception>
#include <optional>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <syslog.h>
#include <unistd.h>

#include "common/error_text.hpp"
#include "common/log_sink.hpp"
#include "common/quiet_thread.hpp"
#include "copyrules/load_copy_rules.hpp"
#include "sandbox/filter_program.hpp"
#include "filter/settings_reload.hpp"
#include "metrics/counters.hpp"

namespace {

// Written by start and stop on the main thread only.
pthread_t reload_handle;
bool reload_running = false;
int wakeup_fd = -1;
const char* reload_path = nullptr;
const char* settings_path = nullptr;
// The thread's own pipe, which only stop writes: the wake-up pipe may be
// read-only here (the filter program holds no write end of it).
int stop_pipe[2] = {-1, -1};

// What the bytes read from the pipe asked for.
struct reload_requests {
  bool rules = false;
  bool settings = false;
};

// Waits until the wake-up pipe holds at least one byte, then empties it
// (several requests of one kind fold into one reload); nothing when stop
// wrote into the thread's own pipe.
std::optional<reload_requests> wait_for_wakeup(int fd) {
  pollfd wanted[2] = {{fd, POLLIN, 0}, {stop_pipe[0], POLLIN, 0}};
  while (poll(wanted, 2, -1) < 0 && errno == EINTR) {
  }
  if (wanted[1].revents != 0) return std::nullopt;
  reload_requests requests;
  char bytes[64];
  for (ssize_t count; (count = read(fd, bytes, sizeof bytes)) > 0;) {
    for (ssize_t index = 0; index < count; ++index) {
      if (bytes[index] == reload_rules_byte) requests.rules = true;
      if (bytes[index] == reload_settings_byte) requests.settings = true;
    }
  }
  return requests;
}

void* reload_thread_main(void*) {
  sigset_t reload_signal = signals_of({SIGUSR1, SIGUSR2});
  pthread_sigmask(SIG_UNBLOCK, &reload_signal, nullptr);
  while (std::optional<reload_requests> requests = wait_for_wakeup(wakeup_fd)) {
    if (requests->rules) reload_copy_rules(reload_path);
    if (requests->settings && settings_path != nullptr) (void)reload_spam_settings(settings_path);
  }
  pthread_sigmask(SIG_BLOCK, &reload_signal, nullptr);
  return nullptr;
}

}  // namespace

void reload_copy_rules(const char* rule_path) {
  // A file this process may not read says nothing about the rules wanted:
  // those in force stay (an emptied table would be a failure passed off as
  // a reload). A file that is gone, or that fails to parse, empties it.
  if (int fd = open(rule_path, O_RDONLY | O_CLOEXEC); fd >= 0) {
    close(fd);
  } else if (errno == EACCES || errno == EPERM) {
    log_line(LOG_CRIT, "XML configure error:cannot read %s: %s; the rules in force stay", rule_path,
             error_text(errno));
    count(metric::copy_rules_reload_failed);
    log_line(LOG_INFO, "TESLO reload");
    return;
  }
  try {
    load_copy_rules(rule_path);
    count(metric::copy_rules_reloaded);
  } catch (const std::exception& error) {
    log_line(LOG_CRIT, "XML configure error:%s", error.what());
    count(metric::copy_rules_reload_failed);
  } catch (...) {
    log_line(LOG_CRIT, "XML configure error:%s", "unknown error");
    count(metric::copy_rules_reload_failed);
  }
  log_line(LOG_INFO, "TESLO reload");
}

bool start_reload_thread(int wakeup, const char* rule_path, const char* spam_config_path) {
  if (reload_running) return true;
  if (wakeup < 0 || fcntl(wakeup, F_GETFD) < 0) return false;
  if (stop_pipe[0] < 0 && pipe2(stop_pipe, O_CLOEXEC) != 0) {
    log_line(LOG_ERR, "reload thread: pthread_create failed");
    return false;
  }
  wakeup_fd = wakeup;
  reload_path = rule_path;
  settings_path = spam_config_path;

  // The new thread starts with all five blocked and opens SIGUSR1 and
  // SIGUSR2 itself; this thread keeps them blocked so that later threads
  // inherit that.
  if (create_thread_blocking(reload_handle, reload_thread_main, nullptr,
                             signals_of({SIGHUP, SIGTERM, SIGINT, SIGUSR1, SIGUSR2})) != 0) {
    log_line(LOG_ERR, "reload thread: pthread_create failed");
    return false;
  }
  sigset_t reload_signals = signals_of({SIGUSR1, SIGUSR2});
  pthread_sigmask(SIG_BLOCK, &reload_signals, nullptr);
  reload_running = true;
  return true;
}

void stop_reload_thread() {
  if (!reload_running) return;
  const char byte = 'w';
  ssize_t written;
  do {
    written = write(stop_pipe[1], &byte, 1);
  } while (written < 0 && errno == EINTR);
  pthread_join(reload_handle, nullptr);
  // The byte is read here, so a later start waits again.
  char drained;
  while (read(stop_pipe[0], &drained, 1) < 0 && errno == EINTR) {
  }
  reload_running = false;
}
