// The root monitor (see monitor.hpp).
#include "monitor/monitor.hpp"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/wait.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <optional>
#include <string>

#include "common/error_text.hpp"
#include "common/log_sink.hpp"
#include "common/quiet_thread.hpp"
#include "monitor/channel_gate.hpp"
#include "monitor/death_count.hpp"
#include "monitor/detach.hpp"
#include "monitor/filter_launch.hpp"
#include "sandbox/monitor_channel.hpp"
#include "metrics/metrics_file.hpp"
#include "sandbox/process_spawner.hpp"

namespace {

// The monitor's own signals arrive as bytes (the signal number) in this pipe.
int events[2] = {-1, -1};

void on_monitor_signal(int number) {
  int saved_errno = errno;
  auto byte = static_cast<unsigned char>(number);
  ssize_t written = write(events[1], &byte, 1);
  (void)written;
  errno = saved_errno;
}

bool install_monitor_signals() {
  if (pipe2(events, O_CLOEXEC | O_NONBLOCK) != 0) return false;
  struct sigaction action {};
  action.sa_handler = on_monitor_signal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int number : {SIGTERM, SIGHUP, SIGINT, SIGCHLD}) {
    if (sigaction(number, &action, nullptr) != 0) return false;
  }
  return true;
}

// The spawners the filter process may ask for, by their request's letter;
// `label` names them in log lines.
struct spawner_kind {
  char request;
  const char* label;
  const spawned_role* role;
};
constexpr std::size_t spawner_kind_count = 2;
const spawner_kind spawner_kinds[spawner_kind_count] = {
    {spf_spawner_request, "SPF", &spf_evaluator_role},
    {archive_spawner_request, "archive", &archive_lister_role},
};

std::size_t spawner_kind_index(char request) { return request == archive_spawner_request ? 1 : 0; }

std::string signal_name(int number) {
  const char* abbreviation = sigabbrev_np(number);
  return abbreviation != nullptr ? std::string("SIG") + abbreviation : std::to_string(number);
}

class monitor {
 public:
  explicit monitor(const monitor_plan& plan) : plan_(plan) {}

  int run() {
    if (!start_filter()) return 1;
    while (!status_) {
      pollfd wanted[2] = {{events[0], POLLIN, 0}, {channel_, POLLIN, 0}};
      if (poll(wanted, channel_ >= 0 ? 2 : 1, -1) < 0) {
        if (errno == EINTR) continue;
        log_line(LOG_CRIT, "monitor: poll: %s", error_text(errno));
        return 1;
      }
      if (channel_ >= 0 && wanted[1].revents != 0) serve_channel();
      if ((wanted[0].revents & POLLIN) != 0) take_signals();
    }
    return *status_;
  }

 private:
  bool start_filter() {
    int ends[2];
    if (!open_monitor_channel(ends)) {
      log_line(LOG_CRIT, "filter process cannot be started: %s", error_text(errno));
      return false;
    }
    sigset_t held = signals_of({SIGTERM, SIGHUP, SIGINT, SIGCHLD, SIGUSR1, SIGUSR2});
    sigset_t previous;
    pthread_sigmask(SIG_BLOCK, &held, &previous);
    pid_t monitor_pid = getpid();
    pid_t pid = fork();
    if (pid == 0) {
      become_filter_program({&plan_.account, &plan_.filter_program, ends[1], plan_.listener,
                             plan_.reload_wakeup, plan_.metrics_path != nullptr},
                            monitor_pid);
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    close(ends[1]);
    if (pid < 0) {
      log_line(LOG_CRIT, "filter process cannot be started: %s", error_text(errno));
      close(ends[0]);
      return false;
    }
    filter_ = pid;
    channel_ = ends[0];
    gate_.emplace(plan_.metrics_path != nullptr);
    return true;
  }

  void serve_channel() {
    while (channel_ >= 0) {
      received_packet packet = receive_request(channel_);
      if (packet.none) return;
      if (packet.closed) {
        close_channel();
        return;
      }
      channel_verdict verdict = gate_->judge(packet.data, packet.truncated);
      switch (verdict.action) {
        case channel_action::mark_ready: report_daemon_ready(); break;
        case channel_action::write_metrics: write_metrics(packet.data.substr(1)); break;
        case channel_action::start_spawner: hand_over_spawner(packet.data.front()); break;
        case channel_action::fault:
          log_line(LOG_ERR, "filter process %ld: %s; its channel is closed",
                   static_cast<long>(filter_), verdict.fault_reason);
          close_channel();
          break;
      }
    }
  }

  // A new spawner of the kind asked for (channel_gate let only the known
  // letters through), in place of the one of that kind the filter process
  // had: one spawner of a kind at a time. The monitor keeps no end of its
  // channel. The monitor's signals stay blocked across the fork, so none of
  // its handlers runs in the child before the child ignores them.
  void hand_over_spawner(char request) {
    std::size_t index = spawner_kind_index(request);
    const spawner_kind& kind = spawner_kinds[index];
    if (spawners_[index] > 0) (void)kill(spawners_[index], SIGKILL);
    spawners_[index] = -1;
    sigset_t held = signals_of({SIGTERM, SIGHUP, SIGINT, SIGCHLD, SIGUSR1, SIGUSR2});
    sigset_t previous;
    pthread_sigmask(SIG_BLOCK, &held, &previous);
    pid_t pid = -1;
    int end = start_process_spawner(plan_.account, *kind.role, pid);
    int error = errno;
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    if (end < 0) {
      log_line(LOG_ERR, "%s spawner cannot be started: %s", kind.label, error_text(error));
    } else {
      spawners_[index] = pid;
    }
    (void)send_spawner_reply(channel_, kind.request, end);
    if (end >= 0) close(end);
  }

  // A spawner ends with status 0 when the filter process closed its
  // channel; any other end is worth a line. The next SPF question or
  // archive that needs one asks for a new one.
  void spawner_ended(std::size_t index, int wait_status) {
    auto pid = static_cast<long>(spawners_[index]);
    const char* label = spawner_kinds[index].label;
    spawners_[index] = -1;
    if (WIFSIGNALED(wait_status)) {
      std::string name = signal_name(WTERMSIG(wait_status));
      log_line(LOG_ERR, "%s spawner %ld ended by signal %s", label, pid, name.c_str());
    } else if (WIFEXITED(wait_status) && WEXITSTATUS(wait_status) != 0) {
      log_line(LOG_ERR, "%s spawner %ld exited with status %d", label, pid,
               WEXITSTATUS(wait_status));
    }
  }

  void close_channel() {
    if (channel_ >= 0) close(channel_);
    channel_ = -1;
  }

  void write_metrics(const std::string& text) {
    std::string reason;
    bool written = replace_metrics_file(plan_.metrics_path, text, reason);
    if (!written && reason != last_metrics_failure_) {
      log_line(LOG_ERR, "metrics file %s: %s", plan_.metrics_path, reason.c_str());
    }
    last_metrics_failure_ = written ? std::string() : reason;
  }

  void take_signals() {
    unsigned char bytes[64];
    ssize_t count;
    while ((count = read(events[0], bytes, sizeof bytes)) > 0) {
      for (ssize_t index = 0; index < count && !status_; ++index) {
        int number = bytes[index];
        if (number == SIGCHLD) {
          reap_children();
        } else if (!stopping_) {
          stopping_ = true;
          (void)kill(filter_, number);
        }
      }
    }
  }

  // Reaps every child that ended (the Sendmail restart process and old
  // spawners too); acts on the end of the filter process and of the
  // current spawners.
  void reap_children() {
    int wait_status;
    pid_t ended;
    while ((ended = waitpid(-1, &wait_status, WNOHANG)) > 0) {
      if (ended == filter_) {
        filter_ended(wait_status);
        continue;
      }
      for (std::size_t index = 0; index < spawner_kind_count; ++index) {
        if (ended == spawners_[index]) spawner_ended(index, wait_status);
      }
    }
  }

  void filter_ended(int wait_status) {
    // Its last metrics are still in the channel.
    serve_channel();
    close_channel();
    if (WIFEXITED(wait_status)) {
      status_ = WEXITSTATUS(wait_status);
      return;
    }
    std::string name = signal_name(WTERMSIG(wait_status));
    auto pid = static_cast<long>(filter_);
    if (stopping_) {
      log_line(LOG_CRIT, "filter process %ld ended by signal %s while stopping", pid, name.c_str());
      status_ = 1;
    } else if (deaths_.too_many_after(death_count::clock::now())) {
      log_line(LOG_CRIT,
               "filter process %ld ended by signal %s; more than %zu within %lld s, stopping", pid,
               name.c_str(), death_count::allowed_deaths,
               static_cast<long long>(death_count::window.count()));
      status_ = 1;
    } else {
      log_line(LOG_CRIT, "filter process %ld ended by signal %s; a new one takes over", pid,
               name.c_str());
      if (!start_filter()) status_ = 1;
    }
  }

  const monitor_plan& plan_;
  pid_t filter_ = -1;
  // The spawner of each kind handed over last, until reaped.
  pid_t spawners_[spawner_kind_count] = {-1, -1};
  int channel_ = -1;
  std::optional<channel_gate> gate_;
  death_count deaths_;
  bool stopping_ = false;
  std::optional<int> status_;
  std::string last_metrics_failure_;
};

}  // namespace

int run_monitor(const monitor_plan& plan) {
  if (!install_monitor_signals()) {
    log_line(LOG_CRIT, "filter process cannot be started: %s", error_text(errno));
    return 1;
  }
  return monitor(plan).run();
}
