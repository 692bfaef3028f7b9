// One SPF evaluation (see evaluate_spf.hpp).
#include "spf/evaluate_spf.hpp"

#include <algorithm>
#include <cstdio>

#include "spf/check_host.hpp"
#include "spf/spf_dns.hpp"
#include "spf/spf_result.hpp"

namespace {

using clock_type = std::chrono::steady_clock;

// The evaluation gives up this long before the question's limit, so that
// its temperror arrives before the asker stops waiting.
constexpr std::chrono::milliseconds answer_margin{300};

template <std::size_t size>
void copy_problem(char (&field)[size], const std::string& text) {
  (void)std::snprintf(field, size, "%s", text.c_str());
}

}  // namespace

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
  std::unique_ptr<dns_source> dns = make_spf_dns(deadline);
  spf_verdict verdict = check_host(request, *dns);
  outcome.result = verdict.result;
  outcome.macro_letters = verdict.macro_letters;
  copy_problem(outcome.problem, verdict.problem);
  return outcome;
}
