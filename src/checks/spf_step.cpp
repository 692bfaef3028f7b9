// The SPF step of the envelope-sender stage (see spf_step.hpp).
#include "checks/spf_step.hpp"

#include <cstdio>
#include <cstring>
#include <ctime>
#include <syslog.h>

#include "checks/spf_cache.hpp"
#include "common/text.hpp"
#include "common/log_sink.hpp"
#include "connection/spf_fail_rule.hpp"
#include "metrics/counters.hpp"
#include "spamconfig/spam_config.hpp"
#include "spf/check_host.hpp"
#include "spf/spf_result.hpp"

namespace {

// Letters whose values are not part of the cache key (HELO name, local
// part, whole sender, time): a result that used one may differ for the next
// message with the same client and domain.
constexpr uint32_t letters_beyond_key =
    macro_bit('h') | macro_bit('l') | macro_bit('s') | macro_bit('t');

int64_t now_seconds() { return static_cast<int64_t>(std::time(nullptr)); }

// The cache serves this message only when it exists, `ttl` is not 0 and the
// envelope stage built a key.
bool cache_in_use(const connection_context& context, const spam_config_record& config) {
  return config.ttl != 0 && context.spf_cache_key[0] != '\0' && spf_cache_allocated();
}

int32_t cached_result(const connection_context& context) {
  return spf_cache_lookup(context.spf_cache_key, now_seconds());
}

// Results 1 to 5 that depend on nothing beyond the key; never temperror or
// permerror, which the next message should try again.
bool cacheable(const spf_evaluation& outcome) {
  return outcome.result >= spf_code::neutral && outcome.result <= spf_code::none &&
         (outcome.macro_letters & letters_beyond_key) == 0;
}

bool is_error_result(int32_t result) {
  return result == spf_code::temperror || result == spf_code::permerror;
}

const char* sender_domain(const connection_context& context) {
  const char* at = std::strchr(context.sender_addr, '@');
  return at != nullptr ? at + 1 : context.sender_addr;
}

void use_cached(connection_context& context, const spam_config_record& config, int32_t value) {
  count_spf_evaluation(value, spf_source::cached);
  log_line(LOG_INFO, "SPF %s (cached): %s, %s, %s, %s", spf_result_text(value), context.client_addr,
           context.client_name, context.helo_name, context.mail_from);
  flag_spf_fail(context, config, spf_fail_seen::cached, value);
  context.spf_result = value;
}

void use_fresh(connection_context& context, const spam_config_record& config, bool use_cache,
               const spf_evaluation& outcome) {
  int32_t result = outcome.result;
  count_spf_evaluation(result, spf_source::fresh);
  log_line(LOG_NOTICE, "SPF %s: %s, %s, %s, %s", spf_result_text(result), context.client_addr,
           context.client_name, context.helo_name, context.mail_from);
  if (is_error_result(result) && outcome.problem[0] != '\0') {
    log_line(LOG_INFO, "SPF %s for %s: %s", spf_result_text(result), sender_domain(context),
             outcome.problem);
  }
  if (result >= spf_code::neutral && result <= spf_code::permerror) context.spf_result = result;
  if (use_cache && cacheable(outcome)) {
    spf_cache_insert(context.spf_cache_key, config.ttl, result, now_seconds());
  }
  flag_spf_fail(context, config, spf_fail_seen::fresh, result);
}

// The check failed for this message, not the sender's policy: temperror,
// nothing cached; the line names the sender's domain and why.
void report_fault(connection_context& context, const spam_config_record& config,
                  const spf_evaluation& outcome) {
  char cause[96];
  switch (outcome.fault) {
    case spf_fault::died:
      if (outcome.signal != 0) {
        (void)std::snprintf(
            cause, sizeof cause, "evaluation process killed by signal %d (%s)", outcome.signal,
            sigabbrev_np(outcome.signal) != nullptr ? sigabbrev_np(outcome.signal) : "unknown");
      } else {
        (void)std::snprintf(cause, sizeof cause, "evaluation process ended without an answer");
      }
      count(metric::spf_fault_died);
      break;
    case spf_fault::timed_out:
      (void)std::snprintf(cause, sizeof cause, "no answer within %d s, evaluation ended",
                          config.spftimeout);
      count(metric::spf_fault_timed_out);
      break;
    default:
      (void)std::snprintf(cause, sizeof cause, "no evaluation process available");
      count(metric::spf_fault_unavailable);
      break;
  }
  log_line(LOG_ERR, "[ERROR] SPF evaluation for %s failed: %s", sender_domain(context), cause);
  context.spf_result = spf_code::temperror;
}

}  // namespace

int32_t spf_cached_value(const connection_context& context, const spam_config_record& config) {
  return cache_in_use(context, config) ? cached_result(context) : 0;
}

spf_question spf_question_of(const connection_context& context, const spam_config_record& config) {
  spf_question question{};
  copy_bounded(question.client_addr, context.client_addr);
  question.client_is_ipv6 = context.client_is_ipv6;
  copy_bounded(question.helo_name, context.helo_name);
  copy_bounded(question.sender_addr, context.sender_addr);
  copy_bounded(question.receiver_host, context.receiver_host);
  question.seconds_allowed = static_cast<uint16_t>(config.spftimeout);
  return question;
}

void apply_spf(connection_context& context, const spam_config_record& config, int32_t cached_value,
               const spf_evaluation& outcome) {
  if (cached_value != 0) {
    use_cached(context, config, cached_value);
  } else if (outcome.kind == spf_evaluation::answered) {
    use_fresh(context, config, cache_in_use(context, config), outcome);
  } else {
    report_fault(context, config, outcome);
  }
}
