// The SPF asker of the test programs (spf/spf_asker.hpp), linked in place of
// the daemon's: a question is evaluated in this process, on the thread that
// takes its answer, with the DNS source that evaluate_spf makes (the tests'
// in-memory zones), unless a test scripted the answers.
#include "support/in_process_spf.hpp"

#include <atomic>
#include <memory>

#include "spf/evaluate_spf.hpp"
#include "spf/spf_asker.hpp"

namespace {

std::atomic<spf_answer_script> answer_script{nullptr};

class in_process_question final : public pending_spf {
 public:
  explicit in_process_question(const spf_question& question)
      : question_(question), script_(answer_script.load()) {}
  spf_evaluation answer() override {
    return script_ != nullptr ? script_(question_) : evaluate_spf(question_);
  }

 private:
  spf_question question_;
  spf_answer_script script_;
};

}  // namespace

void script_spf_answers(spf_answer_script script) { answer_script.store(script); }

std::unique_ptr<pending_spf> ask_spf(const spf_question& question) {
  return std::make_unique<in_process_question>(question);
}
