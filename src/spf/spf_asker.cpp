// Asking SPF questions (see spf_asker.hpp).
#include "spf/spf_asker.hpp"

#include <atomic>

#include "spf/evaluate_spf.hpp"

namespace {

// Evaluated in this process, on the thread that takes the answer.
class in_process_question final : public pending_spf {
 public:
  explicit in_process_question(const spf_question& question) : question_(question) {}
  spf_evaluation answer() override { return evaluate_spf(question_); }

 private:
  spf_question question_;
};

std::unique_ptr<pending_spf> ask_in_process(const spf_question& question) {
  return std::make_unique<in_process_question>(question);
}

std::atomic<spf_question_taker> question_taker{ask_in_process};

}  // namespace

std::unique_ptr<pending_spf> ask_spf(const spf_question& question) {
  return question_taker.load()(question);
}

void set_spf_question_taker(spf_question_taker taker) {
  question_taker.store(taker != nullptr ? taker : ask_in_process);
}
