// The daemon's SPF evaluation processes (see evaluator_pool.hpp).
#include "spf/evaluator_pool.hpp"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <deque>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

#include "sandbox/process_spawner.hpp"
#include "sandbox/spawner_client.hpp"
#include "spf/evaluator_process.hpp"
#include "spf/evaluator_wire.hpp"
#include "spf/spf_asker.hpp"

namespace {

using clock_type = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr std::size_t idle_kept = 256;
constexpr auto idle_lifetime = std::chrono::seconds(60);
constexpr int questions_per_process = 1000;

const spawned_role evaluator_role{"teslo-spawner", "teslo-spf", serve_spf_questions};

struct evaluator {
  spawned_worker worker;
  int questions = 0;
  clock_type::time_point idle_since{};
};

void kill_process(const evaluator& one) { kill_worker(one.worker); }

void close_evaluator(const evaluator& one) { close_worker(one.worker); }

int remaining_ms(clock_type::time_point deadline) {
  auto left = std::chrono::duration_cast<milliseconds>(deadline - clock_type::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
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
  // Takes over a new spawner (after stop, or at the first start).
  void start(int spawner, pid_t spawner_pid) { spawner_.start(spawner, spawner_pid); }

  std::optional<evaluator> take() {
    std::vector<evaluator> retired;
    std::optional<evaluator> found;
    {
      std::lock_guard hold(lock_);
      auto now = clock_type::now();
      while (!idle_.empty() && now - idle_.front().idle_since > idle_lifetime) {
        retired.push_back(idle_.front());
        idle_.pop_front();
      }
      if (!idle_.empty()) {
        found = idle_.back();
        idle_.pop_back();
      }
    }
    for (const evaluator& old : retired) close_evaluator(old);
    if (!found) {
      std::optional<spawned_worker> fresh = spawner_.spawn();
      if (fresh) found = evaluator{*fresh};
    }
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
  std::optional<int> end_status(pid_t pid) { return spawner_.end_status(pid); }

  void stop() {
    {
      std::lock_guard hold(lock_);
      for (const evaluator& one : idle_) {
        kill_process(one);
        close_evaluator(one);
      }
      idle_.clear();
    }
    spawner_.stop();
  }

 private:
  std::mutex lock_;  // the idle list
  std::deque<evaluator> idle_;
  spawner_client spawner_;
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
      if (send_question(one->worker.channel, question)) {
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
    if (!readable_by(process_.worker.channel, deadline_)) {
      kill_process(process_);
      close_evaluator(process_);
      return fault(spf_fault::timed_out);
    }
    spf_evaluation outcome;
    if (receive_answer(process_.worker.channel, outcome)) {
      pool_.give_back(process_);
      return outcome;
    }
    // Closed or garbled: the process is finished either way.
    kill_process(process_);
    close_evaluator(process_);
    std::optional<int> status = pool_.end_status(process_.worker.pid);
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

bool start_evaluation_processes(const unprivileged_account& account) {
  set_spf_question_taker(ask_process);
  pid_t spawner_pid = -1;
  int spawner = start_process_spawner(account, evaluator_role, spawner_pid);
  if (spawner < 0) return false;
  the_pool().start(spawner, spawner_pid);
  return true;
}

void stop_evaluation_processes() { the_pool().stop(); }
