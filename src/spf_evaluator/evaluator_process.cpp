// The SPF evaluation process (see evaluator_process.hpp).
#include "spf_evaluator/evaluator_process.hpp"

#include <resolv.h>
#include <sys/prctl.h>
#include <unistd.h>

#include "sandbox/syscall_filter.hpp"
#include "sandbox/syscall_lists.hpp"
#include "spf/evaluate_spf.hpp"
#include "spf/evaluator_wire.hpp"

namespace {

constexpr unsigned alarm_margin_seconds = 5;

}  // namespace

void run_spf_evaluator(int channel) {
  if (prctl(PR_SET_DUMPABLE, 0, 0, 0, 0) != 0) _exit(2);
  // /etc/resolv.conf is read here, once, into the resolver state the
  // evaluation asks with (evaluate_spf); nothing is opened under the list
  // below.
  (void)res_init();
  if (!load_syscall_filter(spf_evaluator_calls())) _exit(2);
  spf_question question{};
  if (receive_question(channel, question)) {
    (void)alarm(question.seconds_allowed + alarm_margin_seconds);
    spf_evaluation outcome = evaluate_spf(question);
    (void)alarm(0);
    (void)send_answer(channel, outcome);
  }
  _exit(0);
}
