// The system resolver of the blocklist lookup (see dnsbl_resolver.hpp).
#include "checks/dnsbl_resolver.hpp"

#include <arpa/nameser.h>
#include <netdb.h>
#include <resolv.h>

#include <algorithm>
#include <span>

#include "checks/dnsbl_answers.hpp"
#include "checks/dnsbl_listing.hpp"
#include "dns/answer_parse.hpp"

namespace {

// One resolver state per thread that asks (the lookups run on libmilter's
// worker threads, when a question sent ahead must be asked again). res_ninit
// takes /etc/resolv.conf as glibc holds it (name servers, timeout, attempts,
// options; glibc re-reads the file when it changed), so a new thread sees the
// current configuration; the UDP socket to the name server stays open
// between the thread's queries.
// `__res_state` is also the name of a function in <resolv.h>.
using resolver_state = struct __res_state;

class thread_resolver {
 public:
  thread_resolver() = default;
  thread_resolver(const thread_resolver&) = delete;
  thread_resolver& operator=(const thread_resolver&) = delete;
  ~thread_resolver() {
    if (ready_) res_nclose(&state_);
  }

  res_state get() {
    if (!ready_) {
      state_ = resolver_state{};
      if (res_ninit(&state_) != 0) return nullptr;
      state_.options |= RES_STAYOPEN;
      ready_ = true;
    }
    return &state_;
  }

 private:
  resolver_state state_{};
  bool ready_ = false;
};

thread_local thread_resolver worker_resolver;

}  // namespace

// Asks for the A records first and for the AAAA records only when the A
// answer does not settle it: a name that does not exist (NXDOMAIN) has no
// AAAA record either, and a failure or timeout of the A query reads as "not
// listed" at once, so a silent server costs one resolver timeout, as with
// getaddrinfo. A listed client thus costs one query, not an A and an AAAA
// query, and no /etc/hosts read (the query name ends with a dot, which no
// hosts entry matches).
int dnsbl_resolve(const char* name, addrinfo** answers) {
  *answers = nullptr;
  res_state state = worker_resolver.get();
  if (state == nullptr) return EAI_FAIL;
  unsigned char message[NS_PACKETSZ * 4];
  addrinfo** link = answers;
  bool failed = false;
  for (dns_type type : {dns_type::a, dns_type::aaaa}) {
    int length = res_nquery(state, name, ns_c_in, static_cast<int>(type), message, sizeof message);
    if (length < 0) {
      if (state->res_h_errno == NO_DATA) continue;
      // No such name; anything else is a failure or timeout.
      failed = state->res_h_errno != HOST_NOT_FOUND;
      break;
    }
    std::span<const unsigned char> answer(message, std::min<std::size_t>(length, sizeof message));
    dns_reply reply = parse_answer(answer, name, type);
    if (reply.status == dns_reply::failed || !dnsbl_append_answers(reply, &link)) {
      failed = true;
      break;
    }
    if (dnsbl_answer_lists(*answers)) break;
  }
  if (*answers != nullptr) return 0;
  return failed ? EAI_AGAIN : EAI_NONAME;
}

void dnsbl_release_resolved(addrinfo* answers) { dnsbl_release_answers(answers); }

res_state dnsbl_thread_resolver() { return worker_resolver.get(); }
