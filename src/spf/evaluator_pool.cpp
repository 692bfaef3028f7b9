// The daemon's SPF evaluation processes (see evaluator_pool.hpp).
#include "spf/evaluator_pool.hpp"

#include <sys/wait.h>

#include <chrono>
#include <optional>

#include "sandbox/channel_wait.hpp"
#include "sandbox/spawner_client.hpp"
#include "sandbox/worker_pool.hpp"
#include "spf/evaluator_wire.hpp"
#include "spf/spf_asker.hpp"

namespace {

using clock_type = std::chrono::steady_clock;

// Evaluation processes started ahead of the questions: a process's start
// (exec, the dynamic loader, its list) costs 1.5 to 2 ms, which they take
// off a question's path (bench/README.md).
constexpr std::size_t evaluators_ready = 4;

// Never destroyed: worker threads may still hold questions at exit.
worker_pool& the_pool() {
  static auto* const pool = new worker_pool(evaluators_ready);
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
  process_question(worker_pool& pool, const spf_question& question)
      : pool_(pool), deadline_(clock_type::now() + std::chrono::seconds(question.seconds_allowed)) {
    // A process that died before its question fails the send; a second
    // one is asked.
    for (int attempt = 0; attempt < 2 && !sent_; ++attempt) {
      std::optional<spawned_worker> one = pool_.take();
      if (!one) return;
      if (send_question(one->channel, question)) {
        process_ = *one;
        sent_ = true;
      } else {
        finish_worker(*one);
      }
    }
  }

  ~process_question() override {
    if (!sent_) return;
    finish_worker(process_);
  }

  process_question(const process_question&) = delete;
  process_question& operator=(const process_question&) = delete;

  spf_evaluation answer() override {
    if (!sent_) return fault(spf_fault::unavailable);
    sent_ = false;
    if (!readable_by(process_.channel, deadline_)) {
      finish_worker(process_);
      return fault(spf_fault::timed_out);
    }
    spf_evaluation outcome;
    bool answered = receive_answer(process_.channel, outcome);
    // A process answers once: it is finished either way.
    finish_worker(process_);
    pool_.replenish();
    if (answered) return outcome;
    std::optional<int> status = pool_.end_status(process_.pid);
    return fault(spf_fault::died, status && WIFSIGNALED(*status) ? WTERMSIG(*status) : 0);
  }

 private:
  worker_pool& pool_;
  clock_type::time_point deadline_;
  spawned_worker process_;
  bool sent_ = false;
};

}  // namespace

std::unique_ptr<pending_spf> ask_evaluation_process(const spf_question& question) {
  return std::make_unique<process_question>(the_pool(), question);
}

void start_evaluation_processes(spawner_supply supply) { the_pool().start(supply); }

void stop_evaluation_processes() { the_pool().stop(); }
