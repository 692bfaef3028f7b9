// One SPF evaluation with attacker-controlled DNS: the input gives the
// sender's record, an explanation record, an include target and a redirect
// target (TXT records of an in-memory zone served through libspf2's own
// DNS layer), the local part of the sender (any bytes), the HELO name and
// the client address, one per line in that order.
//
// Checked besides crashes and sanitizer reports: the answer is one of the
// kinds and results the serving side accepts, and the evaluation asks at
// most the questions the term budget allows.
//
// libspf2 1.2.10 itself overflows a stack buffer on some macro strings (its
// stack protector aborts); fuzz/run.sh runs this target so that such
// crashes are counted and the run goes on.
#include <sys/types.h>

#include <netinet/in.h>

#include <arpa/inet.h>
#include <arpa/nameser.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "checks/offline_answers.hpp"
#include "spf/evaluate_spf.hpp"
#include "spf/spf_result.hpp"
#include "spf/term_budget.hpp"

namespace {

// The sender's record, one TXT question per term, every MX and PTR term's
// address questions, and the explanation.
constexpr int most_questions = 1 + spf_term_limit * (1 + 10) + 1;

int questions = 0;

SPF_dns_rr_t* count_question(SPF_dns_server_t* layer, const char* domain, ns_type type,
                             int should_cache) {
  ++questions;
  return SPF_dns_lookup(layer->layer_below, domain, type, should_cache);
}

SPF_dns_server_t counting_layer{};

SPF_server_t* counted_zone_server() {
  SPF_server_t* server = offline_answers::make_zone_server();
  counting_layer.lookup = count_question;
  counting_layer.layer_below = server->resolver;
  counting_layer.name = "counting";
  server->resolver = &counting_layer;
  return server;
}

std::vector<std::string> lines_of(const uint8_t* data, std::size_t size, std::size_t count) {
  std::vector<std::string> lines(count);
  std::size_t line = 0;
  for (std::size_t at = 0; at < size && line < count; ++at) {
    if (data[at] == '\n') {
      ++line;
    } else {
      lines[line] += static_cast<char>(data[at]);
    }
  }
  return lines;
}

template <std::size_t size>
void copy_text(char (&field)[size], const std::string& text) {
  std::snprintf(field, size, "%s", text.c_str());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  set_spf_server_maker(counted_zone_server);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  std::vector<std::string> field = lines_of(data, size, 7);
  offline_answers::new_spf_zone("fuzz");
  const char* domains[] = {"f.test", "exp.f.test", "inc.f.test", "red.f.test"};
  for (int n = 0; n < 4; ++n) {
    if (!field[n].empty())
      (void)offline_answers::add_zone_record(domains[n], ns_t_txt, field[n].c_str());
  }
  (void)offline_answers::add_zone_record("a.f.test", ns_t_a, "192.0.2.7");

  spf_question question{};
  copy_text(question.sender_addr, field[4] + "@f.test");
  copy_text(question.helo_name, field[5]);
  copy_text(question.client_addr, field[6].empty() ? "192.0.2.7" : field[6]);
  in6_addr ipv6{};
  question.client_is_ipv6 = inet_pton(AF_INET6, question.client_addr, &ipv6) == 1 ? 1 : 0;
  copy_text(question.receiver_host, "mx.local");
  question.seconds_allowed = 20;

  questions = 0;
  spf_evaluation outcome = evaluate_spf(question);
  if (outcome.kind != spf_evaluation::answered) __builtin_trap();
  if (outcome.result < spf_code::invalid || outcome.result > spf_code::permerror) __builtin_trap();
  if (std::memchr(outcome.problem, '\0', sizeof outcome.problem) == nullptr) __builtin_trap();
  if (questions > most_questions) __builtin_trap();
  return 0;
}
