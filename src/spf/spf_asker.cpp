// The daemon's SPF questions go to the evaluation processes (see
// spf_asker.hpp).
#include "spf/spf_asker.hpp"

#include "spf/evaluator_pool.hpp"

std::unique_ptr<pending_spf> ask_spf(const spf_question& question) {
  return ask_evaluation_process(question);
}
