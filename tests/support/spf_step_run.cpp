// The SPF step in one call (see spf_step_run.hpp).
#include "support/spf_step_run.hpp"

#include "checks/spf_step.hpp"
#include "spf/spf_asker.hpp"

void run_spf_step(connection_context& context, const spam_config_record& config) {
  int32_t cached_value = spf_cached_value(context, config);
  spf_evaluation outcome;
  if (cached_value == 0) outcome = ask_spf(spf_question_of(context, config))->answer();
  apply_spf(context, config, cached_value, outcome);
}
