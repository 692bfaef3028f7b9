// The DNS budget of one SPF evaluation (see term_budget.hpp).
#include "spf/term_budget.hpp"

#include <netdb.h>
#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cstring>

#include "spf/check_host.hpp"

namespace {

bool is_void(const SPF_dns_rr_t* answer) {
  if (answer == nullptr) return false;
  if (answer->herrno == HOST_NOT_FOUND || answer->herrno == NO_DATA) return true;
  return answer->herrno == NETDB_SUCCESS && answer->num_rr == 0;
}

// The letters of the "%{x" macros of the SPF records in a TXT answer.
uint32_t record_macro_letters(const SPF_dns_rr_t* answer) {
  uint32_t letters = 0;
  if (answer == nullptr || answer->herrno != NETDB_SUCCESS) return letters;
  for (int index = 0; index < answer->num_rr; ++index) {
    const char* text = answer->rr[index]->txt;
    if (strncasecmp(text, "v=spf1", 6) != 0) continue;
    for (const char* at = std::strstr(text, "%{"); at != nullptr; at = std::strstr(at + 2, "%{")) {
      int letter = std::tolower(static_cast<unsigned char>(at[2]));
      if (letter >= 'a' && letter <= 'z') letters |= macro_bit(static_cast<char>(letter));
    }
  }
  return letters;
}

}  // namespace

term_budget::term_budget(SPF_server_t* server) : server_(server) {
  layer_.lookup = lookup;
  layer_.layer_below = server->resolver;
  layer_.name = "term budget";
  layer_.debug = server->resolver != nullptr ? server->resolver->debug : 0;
  layer_.hook = this;
  server->resolver = &layer_;
}

term_budget::~term_budget() { server_->resolver = layer_.layer_below; }

SPF_dns_rr_t* term_budget::lookup(SPF_dns_server_t* layer, const char* domain, ns_type type,
                                  int should_cache) {
  return static_cast<term_budget*>(layer->hook)->ask(domain, type, should_cache);
}

SPF_dns_rr_t* term_budget::ask(const char* domain, ns_type type, int should_cache) {
  if (exceeded_) {
    ++asked_after_limit_;
    return SPF_dns_rr_new_init(&layer_, domain, type, 0, TRY_AGAIN);
  }
  bool is_record = type == ns_t_txt || type == ns_t_spf;
  bool counted = true;
  if (is_record) {
    counted = record_seen_;
    record_seen_ = true;
    follow_ups_ = 0;
  } else if ((type == ns_t_a || type == ns_t_aaaa) && follow_ups_ > 0) {
    --follow_ups_;
    counted = false;
  }
  if (counted && ++terms_ > spf_term_limit) {
    exceeded_ = true;
    exceeded_on_txt_ = is_record;
    return SPF_dns_rr_new_init(&layer_, domain, type, 0, TRY_AGAIN);
  }
  SPF_dns_rr_t* answer = SPF_dns_lookup(layer_.layer_below, domain, type, should_cache);
  if (is_record) macro_letters_ |= record_macro_letters(answer);
  if (type == ns_t_mx || type == ns_t_ptr) {
    follow_ups_ = answer != nullptr && answer->herrno == NETDB_SUCCESS
                      ? std::min(answer->num_rr, spf_term_limit)
                      : 0;
  }
  if (counted && is_void(answer) && ++voids_ > spf_void_limit) {
    exceeded_ = true;
    exceeded_on_txt_ = is_record;
  }
  return answer;
}

SPF_result_t term_budget::settle(SPF_result_t result) const {
  if (!exceeded_) return result;
  bool explanation_only = exceeded_on_txt_ && asked_after_limit_ == 0 && result == SPF_RESULT_FAIL;
  return explanation_only ? result : SPF_RESULT_PERMERROR;
}
