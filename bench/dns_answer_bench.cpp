// What reading one DNS answer costs: the blocklist's A answer through the
// DNS layer's parser (parse_answer, then the addresses as the blocklist
// decides on them), with and without matching it to its query first
// (answers_query, as a question sent ahead does), and an SPF record's TXT
// answer. Nanoseconds per answer, best of five rounds; `--answers N` runs
// N answers of each once (for an instruction count under callgrind).
#include <netdb.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "checks/dnsbl_listing.hpp"
#include "checks/dnsbl_answers.hpp"
#include "dns/answer_parse.hpp"

namespace {

using bytes = std::vector<unsigned char>;
using bench_clock = std::chrono::steady_clock;

void put16(bytes& out, unsigned value) {
  out.push_back(static_cast<unsigned char>(value >> 8));
  out.push_back(static_cast<unsigned char>(value & 0xff));
}

// A response (or, with `flags` 0x0100, a query) with one question and one
// answer record whose owner points at the question's name.
bytes message(unsigned flags, const std::string& name, unsigned type, const bytes& data) {
  bytes out;
  put16(out, 0x1234);
  put16(out, flags);
  for (unsigned count : {1U, data.empty() ? 0U : 1U, 0U, 0U}) put16(out, count);
  std::size_t start = 0;
  while (start < name.size()) {
    std::size_t end = name.find('.', start);
    if (end == std::string::npos) end = name.size();
    out.push_back(static_cast<unsigned char>(end - start));
    out.insert(out.end(), name.begin() + static_cast<long>(start),
               name.begin() + static_cast<long>(end));
    start = end + 1;
  }
  out.push_back(0);
  put16(out, type);
  put16(out, 1);
  if (data.empty()) return out;
  put16(out, 0xc00c);
  put16(out, type);
  put16(out, 1);
  put16(out, 0);
  put16(out, 300);
  put16(out, static_cast<unsigned>(data.size()));
  out.insert(out.end(), data.begin(), data.end());
  return out;
}

const std::string listed_name = "2.0.0.127.zen.example.";
const bytes listed_answer = message(0x8180, listed_name, 1, {127, 0, 0, 2});
const bytes listed_query = message(0x0100, listed_name, 1, {});
const std::string spf_text = "v=spf1 include:_spf.example.net mx ip4:192.0.2.0/24 -all";
const bytes spf_answer = [] {
  bytes data{static_cast<unsigned char>(spf_text.size())};
  data.insert(data.end(), spf_text.begin(), spf_text.end());
  return message(0x8180, "example.org", 16, data);
}();

bool blocklist_listed(bool match) {
  if (match && !answers_query(listed_answer, listed_query)) return false;
  dns_reply reply = parse_answer(listed_answer, listed_name, dns_type::a);
  addrinfo* answers = dnsbl_answers_of(reply);
  bool listed = dnsbl_answer_lists(answers);
  dnsbl_release_answers(answers);
  return listed;
}

bool spf_found() {
  return parse_answer(spf_answer, "example.org", dns_type::txt).texts.front() == spf_text;
}

template <typename Work>
double best_ns(Work work, int answers) {
  double best = 1e30;
  for (int round = 0; round < 5; ++round) {
    auto start = bench_clock::now();
    for (int n = 0; n < answers; ++n) {
      if (!work()) std::fprintf(stderr, "warning: a wrong answer\n");
    }
    std::chrono::duration<double, std::nano> spent = bench_clock::now() - start;
    best = std::min(best, spent.count() / answers);
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "--answers") == 0) {
    int answers = std::atoi(argv[2]);
    for (int n = 0; n < answers; ++n) (void)blocklist_listed(false);
    return 0;
  }
  const int answers = 200000;
  std::printf("blocklist A answer, parsed:            %7.1f ns\n",
              best_ns([] { return blocklist_listed(false); }, answers));
  std::printf("blocklist A answer, matched and parsed: %6.1f ns\n",
              best_ns([] { return blocklist_listed(true); }, answers));
  std::printf("SPF TXT answer, parsed:                %7.1f ns\n", best_ns(spf_found, answers));
  return 0;
}
