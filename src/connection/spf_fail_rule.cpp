#include "connection/spf_fail_rule.hpp"

#include "connection/verdicts.hpp"
#include "spf/spf_result.hpp"

namespace {

bool raises_flag(const spam_config_record& config, spf_fail_seen seen) {
  switch (seen) {
    case spf_fail_seen::fresh: return true;
    case spf_fail_seen::cached: return config.refusefail != 0 && config.whitelistto == nullptr;
    case spf_fail_seen::per_recipient: return config.refusefail != 0;
  }
  return false;
}

}  // namespace

void flag_spf_fail(connection_context& context, const spam_config_record& config,
                   spf_fail_seen seen, int32_t result) {
  if (result == spf_code::fail && raises_flag(config, seen)) {
    raise_verdict(context, spam_check::spf, config.spf);
  }
}
