// One SPF evaluation (see evaluate_spf.hpp).
#include "spf/evaluate_spf.hpp"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <resolv.h>

#include "dns/resolver_source.hpp"
#include "spf/check_host.hpp"
#include "spf/spf_result.hpp"

namespace {

using clock_type = std::chrono::steady_clock;

// The evaluation gives up this long before the question's limit, so that
// its temperror arrives before the asker stops waiting.
constexpr std::chrono::milliseconds answer_margin{300};

// The calling thread's resolver state, read from /etc/resolv.conf at its
// first use unless the process did so already (the evaluation process does,
// before its system-call list forbids opening files).
std::unique_ptr<dns_source> make_resolver_source(clock_type::time_point deadline) {
  if ((_res.options & RES_INIT) == 0) (void)res_init();
  return std::make_unique<resolver_source>(&_res, deadline);
}

std::atomic<spf_dns_maker> dns_maker{make_resolver_source};

template <std::size_t size>
void copy_problem(char (&field)[size], const std::string& text) {
  (void)std::snprintf(field, size, "%s", text.c_str());
}

}  // namespace

spf_dns_maker set_spf_dns_maker(spf_dns_maker maker) {
  return dns_maker.exchange(maker != nullptr ? maker : make_resolver_source);
}

spf_evaluation evaluate_spf(const spf_question& question) {
  spf_evaluation outcome;
  outcome.kind = spf_evaluation::answered;
  spf_request request;
  if (!parse_ip_address(question.client_addr, request.client)) {
    outcome.result = spf_code::temperror;
    copy_problem(outcome.problem, "client address not understood");
    return outcome;
  }
  request.helo = question.helo_name;
  request.sender = question.sender_addr;
  request.receiver = question.receiver_host;
  auto allowed = std::chrono::seconds(std::max<int>(question.seconds_allowed, 1));
  auto deadline = clock_type::now() + allowed - answer_margin;
  std::unique_ptr<dns_source> dns = dns_maker.load()(deadline);
  spf_verdict verdict = check_host(request, *dns);
  outcome.result = verdict.result;
  outcome.macro_letters = verdict.macro_letters;
  copy_problem(outcome.problem, verdict.problem);
  return outcome;
}
