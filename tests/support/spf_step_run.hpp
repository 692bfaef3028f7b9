// The SPF step of the envelope-sender stage in one call, for tests and
// benchmarks: the cached result, else the question asked and its answer
// waited for at once, then its use (checks/spf_step.hpp). The daemon asks
// the question ahead instead (checks/dns_questions.hpp).
#pragma once

#include "connection/connection_context.hpp"

void run_spf_step(connection_context& context, const spam_config_record& config);
