// A blocklist question sent ahead (see dnsbl_question.hpp).
#include "checks/dnsbl_question.hpp"

#include <netdb.h>

#include <utility>

#include "checks/dnsbl_answers.hpp"
#include "checks/dnsbl_lookup.hpp"
#include "checks/dnsbl_resolver.hpp"
#include "dns/answer_parse.hpp"
#include "dns/udp_query.hpp"

dnsbl_question::dnsbl_question(std::string name) : name_(std::move(name)) {
  res_state state = dnsbl_thread_resolver();
  if (state == nullptr) return;
  query_ = std::make_unique<udp_query>(state, name_, dns_type::a);
  if (!query_->sent()) {
    query_.reset();
    return;
  }
  wait_ = std::chrono::seconds(state->retrans > 0 ? state->retrans : 5);
  attempts_ = state->nscount == 1 && state->retry > 0 ? state->retry : 1;
}

dnsbl_question::~dnsbl_question() = default;

// With one name server, as glibc does: the query is sent again after each
// timeout, the timeout doubling, and an answer to any of the copies counts;
// a server silent through every attempt is a failed lookup (not listed).
// With several, the first one's silence is left to the ordinary lookup,
// which goes on to the others.
dnsbl_question::early dnsbl_question::read_answer() {
  auto deadline = query_->sent_at() + wait_;
  for (int attempt = 1;; ++attempt) {
    udp_query::outcome got = query_->await(deadline);
    if (got == udp_query::outcome::answered) break;
    if (got == udp_query::outcome::failed) return early::ask_again;
    if (attempt < attempts_) {
      query_->send_again();
      deadline += wait_ * (1 << attempt);
      continue;
    }
    if (attempts_ == 1) return early::ask_again;
    (void)dnsbl_decide(EAI_AGAIN, nullptr, std::chrono::steady_clock::now() - query_->sent_at());
    return early::not_listed;
  }
  auto took = query_->arrival_time() - query_->sent_wall();
  dns_reply reply = parse_answer(query_->answer(), name_, dns_type::a);
  if (reply.status == dns_reply::nxdomain) {
    (void)dnsbl_decide(EAI_NONAME, nullptr, took);
    return early::not_listed;
  }
  // Without a listing A record (none, or only the error answers of public
  // lists) the AAAA records decide: the ordinary lookup's question. A
  // failure, refusal or truncated answer is asked again the ordinary way.
  addrinfo* answers = reply.status == dns_reply::found ? dnsbl_answers_of(reply) : nullptr;
  if (!dnsbl_answer_lists(answers)) {
    dnsbl_release_answers(answers);
    return early::ask_again;
  }
  (void)dnsbl_decide(0, answers, took);
  return early::listed;
}

bool dnsbl_question::listed() {
  if (query_) {
    early outcome = read_answer();
    query_.reset();
    if (outcome != early::ask_again) return outcome == early::listed;
  }
  return dnsbl_name_listed(name_.c_str());
}
