#include "checks/dnsbl_lookup.hpp"

#include <chrono>

#include "checks/dnsbl_answers.hpp"
#include "checks/dnsbl_resolver.hpp"
#include "metrics/counters.hpp"

bool dnsbl_listed(const connection_context& context, const char* zone) {
  char name[dnsbl_query_name_size];
  return dnsbl_query_name(context, zone, name, sizeof name) && dnsbl_name_listed(name);
}

bool dnsbl_name_listed(const char* name) {
  addrinfo* answers = nullptr;
  auto started = std::chrono::steady_clock::now();
  int status = dnsbl_resolve(name, &answers);
  auto took = std::chrono::steady_clock::now() - started;
  bool listed = status == 0 && dnsbl_answer_lists(answers);
  if (answers != nullptr) dnsbl_release_resolved(answers);
  count_dnsbl_lookup(dnsbl_outcome(status, answers != nullptr, listed), took);
  return listed;
}

bool dnsbl_decide(int status, addrinfo* answers, std::chrono::steady_clock::duration took) {
  bool listed = status == 0 && dnsbl_answer_lists(answers);
  count_dnsbl_lookup(dnsbl_outcome(status, answers != nullptr, listed), took);
  if (answers != nullptr) dnsbl_release_answers(answers);
  return listed;
}
