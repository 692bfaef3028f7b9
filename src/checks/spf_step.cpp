// The SPF step of the envelope-sender stage (see spf_step.hpp).
#include "checks/spf_step.hpp"

#include <sys/types.h>

#include <netinet/in.h>

#include <arpa/nameser.h>

#include <atomic>
#include <ctime>
#include <memory>
#include <syslog.h>

extern "C" {
#include <spf2/spf.h>
}

#include "checks/spf_cache.hpp"
#include "common/log_sink.hpp"
#include "connection/verdicts.hpp"
#include "metrics/counters.hpp"
#include "spamconfig/spam_config.hpp"

namespace {

constexpr int32_t spf_none = SPF_RESULT_NONE;
constexpr int32_t spf_fail = SPF_RESULT_FAIL;

SPF_server_t* make_resolver_server() { return SPF_server_new(SPF_DNS_RESOLV, 0); }

std::atomic<spf_server_maker> server_maker{make_resolver_server};

struct server_deleter {
  void operator()(SPF_server_t* server) const { SPF_server_free(server); }
};
struct request_deleter {
  void operator()(SPF_request_t* request) const { SPF_request_free(request); }
};
struct response_deleter {
  void operator()(SPF_response_t* response) const { SPF_response_free(response); }
};
// spf_step declares the handles server, request, response, so they are freed
// in the reverse order: response, request, server.
using server_handle = std::unique_ptr<SPF_server_t, server_deleter>;
using request_handle = std::unique_ptr<SPF_request_t, request_deleter>;
using response_handle = std::unique_ptr<SPF_response_t, response_deleter>;

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
  // A cached fail is acted on here only when no per-recipient whitelist
  // exists; otherwise the recipient stage decides per recipient.
  if (value == spf_fail && config.refusefail != 0 && config.whitelistto == nullptr) {
    raise_verdict(context, spam_check::spf, config.spf);
  }
  context.spf_result = value;
}

// Client address, HELO name and envelope sender of the request. A pure IPv6
// client is given as IPv6 text; an IPv4-mapped client arrives here as IPv4.
void describe_client(SPF_request_t* request, const connection_context& context) {
  if (context.client_is_ipv6 != 0) {
    SPF_request_set_ipv6_str(request, context.client_addr);
  } else {
    SPF_request_set_ipv4_str(request, context.client_addr);
  }
  SPF_request_set_helo_dom(request, context.helo_name);
  SPF_request_set_env_from(request, context.sender_addr);
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
  if (result == SPF_RESULT_FAIL) raise_verdict(context, spam_check::spf, config.spf);
}

}  // namespace

spf_server_maker set_spf_server_maker(spf_server_maker maker) {
  return server_maker.exchange(maker != nullptr ? maker : make_resolver_server);
}

int32_t spf_cached_value(const connection_context& context, const spam_config_record& config) {
  return cache_in_use(context, config) ? cached_result(context) : 0;
}

spf_evaluation evaluate_spf(const connection_context& context) {
  spf_evaluation outcome;
  server_handle server(server_maker.load()());
  if (!server) {
    outcome.kind = spf_evaluation::no_server;
    return outcome;
  }
  SPF_server_set_rec_dom(server.get(), context.receiver_host);

  request_handle request(SPF_request_new(server.get()));
  if (!request) return outcome;
  describe_client(request.get(), context);

  SPF_response_t* raw_response = nullptr;
  SPF_errcode_t error = SPF_request_query_mailfrom(request.get(), &raw_response);
  response_handle response(raw_response);
  if (error != SPF_E_SUCCESS) {
    outcome.kind = spf_evaluation::query_error;
    return outcome;
  }
  if (!response) return outcome;
  outcome.kind = spf_evaluation::answered;
  outcome.result = SPF_response_result(response.get());
  return outcome;
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
    case spf_evaluation::nothing: break;
  }
  return SMFIS_CONTINUE;
}

sfsistat spf_step(SMFICTX* /*ctx*/, connection_context& context, const spam_config_record& config) {
  int32_t cached_value = spf_cached_value(context, config);
  spf_evaluation outcome;
  if (cached_value == 0) outcome = evaluate_spf(context);
  return apply_spf(context, config, cached_value, outcome);
}
