// The daemon's SPF evaluation processes (see evaluator_pool.hpp).
#include "spf/evaluator_pool.hpp"

#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include "spf/evaluator_spawner.hpp"
#include "spf/evaluator_wire.hpp"
#include "spf/spf_asker.hpp"

namespace {

using clock_type = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr std::size_t idle_kept = 256;
constexpr auto idle_lifetime = std::chrono::seconds(60);
constexpr int questions_per_process = 1000;
constexpr milliseconds spawn_wait{2000};
// How long a question whose process died waits for the spawner's report of
// how it ended.
constexpr milliseconds end_report_wait{500};
constexpr milliseconds end_report_slice{5};
constexpr std::size_t end_reports_kept = 64;

struct evaluator {
  pid_t pid = -1;
  int channel = -1;
  int process = -1;  // pidfd
  int questions = 0;
  clock_type::time_point idle_since{};
};

void kill_process(const evaluator& one) {
  (void)syscall(SYS_pidfd_send_signal, one.process, SIGKILL, nullptr, 0);
}

void close_evaluator(const evaluator& one) {
  close(one.channel);
  close(one.process);
}

int remaining_ms(clock_type::time_point deadline) {
  auto left = std::chrono::duration_cast<milliseconds>(deadline - clock_type::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

// True when `fd` has something to read or its other end is gone: for an
// idle process's channel, a process that died or speaks unasked; for the
// spawner's, a note waiting or a spawner that ended.
bool has_news(int fd) {
  pollfd watch{fd, POLLIN, 0};
  return poll(&watch, 1, 0) != 0;
}

bool hung_up(int fd) {
  pollfd watch{fd, POLLIN, 0};
  return poll(&watch, 1, 0) > 0 && (watch.revents & (POLLHUP | POLLERR)) != 0;
}

// Waits for `fd` to be readable until `deadline`; false when it passed.
bool readable_by(int fd, clock_type::time_point deadline) {
  for (;;) {
    pollfd watch{fd, POLLIN, 0};
    int ready = poll(&watch, 1, remaining_ms(deadline));
    if (ready > 0) return true;
    if (ready == 0) return false;
    if (errno != EINTR) return true;  // the read that follows reports it
  }
}

class evaluator_pool {
 public:
  // From now on a spawner comes from `supply` (null: none comes).
  void start(spawner_supply supply) {
    std::lock_guard hold(lock_);
    supply_ = supply;
  }

  std::optional<evaluator> take() {
    std::vector<evaluator> retired;
    std::optional<evaluator> found;
    {
      std::lock_guard hold(lock_);
      // A spawner that ended took its processes with it.
      if (spawner_ >= 0 && hung_up(spawner_)) lose_spawner_locked();
      auto now = clock_type::now();
      while (!idle_.empty() && now - idle_.front().idle_since > idle_lifetime) {
        retired.push_back(idle_.front());
        idle_.pop_front();
      }
      while (!found && !idle_.empty()) {
        evaluator one = idle_.back();
        idle_.pop_back();
        if (has_news(one.channel)) {
          kill_process(one);
          retired.push_back(one);
        } else {
          found = one;
        }
      }
      if (!found) found = spawn_locked();
    }
    for (const evaluator& old : retired) close_evaluator(old);
    return found;
  }

  void give_back(evaluator one) {
    if (++one.questions >= questions_per_process) {
      close_evaluator(one);
      return;
    }
    one.idle_since = clock_type::now();
    std::optional<evaluator> surplus;
    {
      std::lock_guard hold(lock_);
      idle_.push_back(one);
      if (idle_.size() > idle_kept) {
        surplus = idle_.front();
        idle_.pop_front();
      }
    }
    if (surplus) close_evaluator(*surplus);
  }

  // The wait status of an evaluation process that ended, as the spawner
  // reports it; nothing when no report comes in time.
  // The lock is held for a few milliseconds at a time, so that a crash
  // does not hold up the questions of other messages.
  std::optional<int> end_status(pid_t pid) {
    auto deadline = clock_type::now() + end_report_wait;
    for (;;) {
      {
        std::lock_guard hold(lock_);
        for (const auto& [ended, status] : ended_) {
          if (ended == pid) return status;
        }
        if (spawner_ < 0) return std::nullopt;
        auto slice = std::min(deadline, clock_type::now() + end_report_slice);
        if (readable_by(spawner_, slice)) {
          if (!read_note_locked(nullptr)) return std::nullopt;
          continue;
        }
      }
      if (clock_type::now() >= deadline) return std::nullopt;
      std::this_thread::yield();
    }
  }

  void stop() {
    std::lock_guard hold(lock_);
    supply_ = nullptr;
    lose_spawner_locked();
    ended_.clear();
  }

 private:
  // A new evaluation process from the spawner; a spawner found gone is
  // replaced from the supply once.
  std::optional<evaluator> spawn_locked() {
    for (int attempt = 0; attempt < 2; ++attempt) {
      if (spawner_ < 0 && supply_ != nullptr) spawner_ = supply_();
      if (spawner_ < 0) return std::nullopt;
      char request = spawn_request;
      if (send(spawner_, &request, 1, MSG_NOSIGNAL) != 1) {
        lose_spawner_locked();
        continue;
      }
      auto deadline = clock_type::now() + spawn_wait;
      evaluator fresh;
      for (;;) {
        if (!readable_by(spawner_, deadline)) return std::nullopt;
        std::optional<spawner_note> note = read_note_locked(&fresh);
        if (!note) break;  // the spawner is gone
        if (note->kind == spawner_note::spawned) return fresh;
        if (note->kind == spawner_note::spawn_failed) return std::nullopt;
      }
    }
    return std::nullopt;
  }

  // Reads one note; an ended note is kept for end_status. A spawned note's
  // descriptors go to `fresh` (or are closed when nobody asked).
  std::optional<spawner_note> read_note_locked(evaluator* fresh) {
    spawner_note note{};
    iovec data{&note, sizeof note};
    alignas(cmsghdr) char control[CMSG_SPACE(2 * sizeof(int))] = {};
    msghdr message{};
    message.msg_iov = &data;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    ssize_t received;
    do {
      received = recvmsg(spawner_, &message, MSG_CMSG_CLOEXEC);
    } while (received < 0 && errno == EINTR);
    int fds[2] = {-1, -1};
    cmsghdr* header = CMSG_FIRSTHDR(&message);
    if (header != nullptr && header->cmsg_level == SOL_SOCKET && header->cmsg_type == SCM_RIGHTS &&
        header->cmsg_len == CMSG_LEN(2 * sizeof(int))) {
      std::memcpy(fds, CMSG_DATA(header), sizeof fds);
    }
    if (received != static_cast<ssize_t>(sizeof note)) {
      for (int fd : fds) {
        if (fd >= 0) close(fd);
      }
      lose_spawner_locked();
      return std::nullopt;
    }
    if (note.kind == spawner_note::ended) {
      ended_.emplace_back(note.pid, note.status);
      if (ended_.size() > end_reports_kept) ended_.pop_front();
    } else if (note.kind == spawner_note::spawned && fresh != nullptr && fds[0] >= 0 &&
               fds[1] >= 0) {
      fresh->pid = note.pid;
      fresh->channel = fds[0];
      fresh->process = fds[1];
      return note;
    } else if (note.kind == spawner_note::spawned) {
      for (int fd : fds) {
        if (fd >= 0) close(fd);
      }
      note.kind = spawner_note::spawn_failed;
    }
    return note;
  }

  // The spawner's channel is closed, and the idle processes, which end with
  // the spawner (their parent-death signal), are ended and dropped.
  void lose_spawner_locked() {
    if (spawner_ >= 0) close(spawner_);
    spawner_ = -1;
    for (const evaluator& one : idle_) {
      kill_process(one);
      close_evaluator(one);
    }
    idle_.clear();
  }

  std::mutex lock_;
  spawner_supply supply_ = nullptr;
  int spawner_ = -1;
  std::deque<evaluator> idle_;
  std::deque<std::pair<pid_t, int>> ended_;
};

// Never destroyed: worker threads may still hold questions at exit.
evaluator_pool& the_pool() {
  static auto* const pool = new evaluator_pool;
  return *pool;
}

spf_evaluation fault(spf_fault why, int signal = 0) {
  spf_evaluation outcome;
  outcome.kind = spf_evaluation::failed;
  outcome.fault = why;
  outcome.signal = signal;
  return outcome;
}

class process_question final : public pending_spf {
 public:
  process_question(evaluator_pool& pool, const spf_question& question)
      : pool_(pool), deadline_(clock_type::now() + std::chrono::seconds(question.seconds_allowed)) {
    // A process that died while idle fails the send; a second one is asked.
    for (int attempt = 0; attempt < 2 && !sent_; ++attempt) {
      std::optional<evaluator> one = pool_.take();
      if (!one) return;
      if (send_question(one->channel, question)) {
        process_ = *one;
        sent_ = true;
      } else {
        kill_process(*one);
        close_evaluator(*one);
      }
    }
  }

  ~process_question() override {
    if (!sent_) return;
    kill_process(process_);
    close_evaluator(process_);
  }

  process_question(const process_question&) = delete;
  process_question& operator=(const process_question&) = delete;

  spf_evaluation answer() override {
    if (!sent_) return fault(spf_fault::unavailable);
    sent_ = false;
    if (!readable_by(process_.channel, deadline_)) {
      kill_process(process_);
      close_evaluator(process_);
      return fault(spf_fault::timed_out);
    }
    spf_evaluation outcome;
    if (receive_answer(process_.channel, outcome)) {
      pool_.give_back(process_);
      return outcome;
    }
    // Closed or garbled: the process is finished either way.
    kill_process(process_);
    close_evaluator(process_);
    std::optional<int> status = pool_.end_status(process_.pid);
    return fault(spf_fault::died, status && WIFSIGNALED(*status) ? WTERMSIG(*status) : 0);
  }

 private:
  evaluator_pool& pool_;
  clock_type::time_point deadline_;
  evaluator process_;
  bool sent_ = false;
};

std::unique_ptr<pending_spf> ask_process(const spf_question& question) {
  return std::make_unique<process_question>(the_pool(), question);
}

}  // namespace

void start_evaluation_processes(spawner_supply supply) {
  the_pool().start(supply);
  set_spf_question_taker(ask_process);
}

void stop_evaluation_processes() { the_pool().stop(); }
