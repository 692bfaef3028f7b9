// The SPF step of the envelope-sender stage (see spf_step.hpp).
#include "checks/spf_step.hpp"

#include <sys/types.h>

#include <netinet/in.h>

#include <arpa/nameser.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <syslog.h>

extern "C" {
#include <spf2/spf.h>
}

#include "checks/spf_cache.hpp"
#include "common/text.hpp"
#include "common/log_sink.hpp"
#include "connection/spf_fail_rule.hpp"
#include "metrics/counters.hpp"
#include "spamconfig/spam_config.hpp"
#include "spf/spf_asker.hpp"

namespace {

constexpr int32_t spf_none = SPF_RESULT_NONE;

int64_t now_seconds() { return static_cast<int64_t>(std::time(nullptr)); }

// The cache serves this message only when it exists, `ttl` is not 0 and the
// envelope stage built a key.
bool cache_in_use(const connection_context& context, const spam_config_record& config) {
  return config.ttl != 0 && context.spf_cache_key[0] != '\0' && spf_cache_allocated();
}

int32_t cached_result(const connection_context& context) {
  return spf_cache_lookup(context.spf_cache_key, now_seconds());
}

void cache_result(const connection_context& context, const spam_config_record& config,
                  int32_t value) {
  spf_cache_insert(context.spf_cache_key, config.ttl, value, now_seconds());
}

void use_cached(connection_context& context, const spam_config_record& config, int32_t value) {
  count_spf_evaluation(value, spf_source::cached);
  log_line(LOG_INFO, "SPF %s (cached): %s, %s, %s, %s",
           SPF_strresult(static_cast<SPF_result_t>(value)), context.client_addr,
           context.client_name, context.helo_name, context.mail_from);
  flag_spf_fail(context, config, spf_fail_seen::cached, value);
  context.spf_result = value;
}

void use_fresh(connection_context& context, const spam_config_record& config, bool use_cache,
               SPF_result_t result) {
  count_spf_evaluation(result, spf_source::fresh);
  log_line(LOG_NOTICE, "SPF %s: %s, %s, %s, %s", SPF_strresult(result), context.client_addr,
           context.client_name, context.helo_name, context.mail_from);
  if (result >= SPF_RESULT_NEUTRAL && result <= SPF_RESULT_SOFTFAIL) {
    context.spf_result = result;
    if (use_cache) cache_result(context, config, result);
  }
  flag_spf_fail(context, config, spf_fail_seen::fresh, result);
}

// The message gets no SPF result: spf_result stays 5 and nothing is cached,
// as for a temporary error; the line names the sender's domain and why.
void report_fault(const connection_context& context, const spf_evaluation& outcome) {
  const char* at = std::strchr(context.sender_addr, '@');
  const char* domain = at != nullptr ? at + 1 : context.sender_addr;
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
                          settings_of(context).spftimeout);
      count(metric::spf_fault_timed_out);
      break;
    default:
      (void)std::snprintf(cause, sizeof cause, "no evaluation process available");
      count(metric::spf_fault_unavailable);
      break;
  }
  log_line(LOG_ERR, "[ERROR] SPF evaluation for %s failed: %s", domain, cause);
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

sfsistat apply_spf(connection_context& context, const spam_config_record& config,
                   int32_t cached_value, const spf_evaluation& outcome) {
  if (cached_value != 0) {
    use_cached(context, config, cached_value);
    return SMFIS_CONTINUE;
  }
  bool use_cache = cache_in_use(context, config);
  switch (outcome.kind) {
    case spf_evaluation::no_server:
      log_line(LOG_ERR, "[ERROR] SPF initialize failed");
      return SMFIS_ACCEPT;
    case spf_evaluation::query_error:
      log_line(LOG_INFO, "SPF none: %s, %s, %s, %s", context.client_addr, context.client_name,
               context.helo_name, context.mail_from);
      count_spf_evaluation(spf_none, spf_source::fresh);
      if (use_cache) cache_result(context, config, spf_none);
      return SMFIS_CONTINUE;
    case spf_evaluation::answered:
      use_fresh(context, config, use_cache, static_cast<SPF_result_t>(outcome.result));
      return SMFIS_CONTINUE;
    case spf_evaluation::failed: report_fault(context, outcome); return SMFIS_CONTINUE;
    case spf_evaluation::nothing: break;
  }
  return SMFIS_CONTINUE;
}

sfsistat spf_step(SMFICTX* /*ctx*/, connection_context& context, const spam_config_record& config) {
  int32_t cached_value = spf_cached_value(context, config);
  spf_evaluation outcome;
  if (cached_value == 0) outcome = ask_spf(spf_question_of(context, config))->answer();
  return apply_spf(context, config, cached_value, outcome);
}
