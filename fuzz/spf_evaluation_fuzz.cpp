// One SPF evaluation with attacker-controlled DNS: the input gives the
// sender's record, an explanation text, an include target's record and a
// redirect target's record (TXT records of an in-memory zone), the local
// part of the sender (any bytes), the HELO name and the client address, one
// per line in that order. The record parser, the macro syntax check and
// the macro expander (of domain-specs and of the explanation text) all see
// the input.
//
// Checked besides crashes and sanitizer reports: the result is one of the
// seven, and the evaluation asks at most the questions the limits allow.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "spf/check_host.hpp"
#include "spf/spf_macro.hpp"
#include "spf/zone_dns.hpp"

namespace {

// The sender's record; per term its own question and, for mx and ptr, ten
// address questions; per ptr term or %{p} domain a PTR question and ten
// address questions.
constexpr std::size_t most_questions = 1 + 10 * (1 + 10) + 20 * (1 + 10);

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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  std::vector<std::string> field = lines_of(data, size, 7);
  zone_dns zone;
  const char* domains[] = {"f.test", "exp.f.test", "inc.f.test", "red.f.test"};
  for (int n = 0; n < 4; ++n) {
    if (!field[n].empty()) zone.add_txt(domains[n], field[n]);
  }
  zone.add_address("a.f.test", "192.0.2.7");
  zone.add_mx("f.test", "a.f.test");
  zone.add_ptr("7.2.0.192.in-addr.arpa", "a.f.test");

  spf_request request;
  if (!parse_ip_address(field[6], request.client))
    (void)parse_ip_address("192.0.2.7", request.client);
  request.sender = field[4] + "@f.test";
  request.helo = field[5];
  request.receiver = "mx.local";
  spf_verdict verdict = check_host(request, zone);
  if (verdict.result < 1 || verdict.result > 7) __builtin_trap();
  if (zone.asked.size() > most_questions) __builtin_trap();

  if (valid_macro_string(field[1], true)) {
    macro_values values;
    values.sender = request.sender;
    values.local_part = field[4];
    values.helo = field[5];
    uint32_t letters = 0;
    (void)expand_macros(field[1], values, letters);
  }
  return 0;
}
