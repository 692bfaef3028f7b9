// The SPF asker of the test programs (spf/spf_asker.hpp), linked in place of
// the daemon's: a question is evaluated in this process, on the thread that
// takes its answer, with the DNS source that evaluate_spf makes (the tests'
// in-memory zones).
#include <memory>

#include "spf/evaluate_spf.hpp"
#include "spf/spf_asker.hpp"

namespace {

class in_process_question final : public pending_spf {
 public:
  explicit in_process_question(const spf_question& question) : question_(question) {}
  spf_evaluation answer() override { return evaluate_spf(question_); }

 private:
  spf_question question_;
};

}  // namespace

std::unique_ptr<pending_spf> ask_spf(const spf_question& question) {
  return std::make_unique<in_process_question>(question);
}
