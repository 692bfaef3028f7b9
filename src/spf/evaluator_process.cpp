// The SPF evaluation process (see evaluator_process.hpp).
#include "spf/evaluator_process.hpp"

#include <resolv.h>
#include <unistd.h>

#include "sandbox/syscall_filter.hpp"
#include "sandbox/syscall_lists.hpp"
#include "spf/evaluate_spf.hpp"
#include "spf/evaluator_wire.hpp"

namespace {

constexpr unsigned alarm_margin_seconds = 5;

}  // namespace

const spawned_role spf_evaluator_role{"teslo-spawner", "teslo-spf", serve_spf_questions};

void serve_spf_questions(int channel) {
  // /etc/resolv.conf is read here, once, into the resolver state every
  // evaluation of this process asks with (evaluate_spf); nothing is opened
  // under the list below. A process reads a changed file when it starts.
  (void)res_init();
  if (!load_syscall_filter(spf_evaluator_calls())) _exit(2);
  spf_question question{};
  while (receive_question(channel, question)) {
    (void)alarm(question.seconds_allowed + alarm_margin_seconds);
    spf_evaluation outcome = evaluate_spf(question);
    (void)alarm(0);
    if (!send_answer(channel, outcome)) break;
  }
  _exit(0);
}
