#include "connection/spf_fail_rule.hpp"

#include "connection/verdicts.hpp"

namespace {

constexpr int32_t spf_fail = 3;  // libspf2's SPF_RESULT_FAIL

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
  if (result == spf_fail && raises_flag(config, seen)) {
    raise_verdict(context, spam_check::spf, config.spf);
  }
}
