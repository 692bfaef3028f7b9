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

// At most 256 idle, none idle for over a minute, none after 1000 questions.
constexpr worker_pool_limits evaluator_limits{256, std::chrono::seconds(60), 1000};

void finish(const pooled_worker& one) {
  kill_worker(one.worker);
  close_worker(one.worker);
}

// Never destroyed: worker threads may still hold questions at exit.
worker_pool& the_pool() {
  static auto* const pool = new worker_pool(evaluator_limits);
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
    // A process that died while idle fails the send; a second one is asked.
    for (int attempt = 0; attempt < 2 && !sent_; ++attempt) {
      std::optional<pooled_worker> one = pool_.take();
      if (!one) return;
      if (send_question(one->worker.channel, question)) {
        process_ = *one;
        sent_ = true;
      } else {
        finish(*one);
      }
    }
  }

  ~process_question() override {
    if (!sent_) return;
    finish(process_);
  }

  process_question(const process_question&) = delete;
  process_question& operator=(const process_question&) = delete;

  spf_evaluation answer() override {
    if (!sent_) return fault(spf_fault::unavailable);
    sent_ = false;
    if (!readable_by(process_.worker.channel, deadline_)) {
      finish(process_);
      return fault(spf_fault::timed_out);
    }
    spf_evaluation outcome;
    if (receive_answer(process_.worker.channel, outcome)) {
      pool_.give_back(process_);
      return outcome;
    }
    // Closed or garbled: the process is finished either way.
    finish(process_);
    std::optional<int> status = pool_.end_status(process_.worker.pid);
    return fault(spf_fault::died, status && WIFSIGNALED(*status) ? WTERMSIG(*status) : 0);
  }

 private:
  worker_pool& pool_;
  clock_type::time_point deadline_;
  pooled_worker process_;
  bool sent_ = false;
};

}  // namespace

std::unique_ptr<pending_spf> ask_evaluation_process(const spf_question& question) {
  return std::make_unique<process_question>(the_pool(), question);
}

void start_evaluation_processes(spawner_supply supply) { the_pool().start(supply); }

void stop_evaluation_processes() { the_pool().stop(); }
