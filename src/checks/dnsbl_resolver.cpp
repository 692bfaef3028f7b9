#include "checks/dnsbl_resolver.hpp"

#include <arpa/inet.h>
#include <arpa/nameser.h>
#include <resolv.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

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

// Appends one address as an addrinfo node (the address in the same block)
// at `*link`; false when memory runs out.
bool append_address(const ip_address& address, addrinfo*** link) {
  auto* node = static_cast<addrinfo*>(std::calloc(1, sizeof(addrinfo) + sizeof(sockaddr_in6)));
  if (node == nullptr) return false;
  auto* place = reinterpret_cast<sockaddr*>(node + 1);
  if (address.v6) {
    auto* v6 = reinterpret_cast<sockaddr_in6*>(place);
    v6->sin6_family = AF_INET6;
    std::memcpy(&v6->sin6_addr, address.bytes.data(), NS_IN6ADDRSZ);
    node->ai_addrlen = sizeof(sockaddr_in6);
  } else {
    auto* v4 = reinterpret_cast<sockaddr_in*>(place);
    v4->sin_family = AF_INET;
    std::memcpy(&v4->sin_addr, address.bytes.data(), NS_INADDRSZ);
    node->ai_addrlen = sizeof(sockaddr_in);
  }
  node->ai_family = place->sa_family;
  node->ai_socktype = SOCK_STREAM;
  node->ai_addr = place;
  **link = node;
  *link = &node->ai_next;
  return true;
}

bool append_addresses(const dns_reply& reply, addrinfo*** link) {
  for (const ip_address& address : reply.addresses) {
    if (!append_address(address, link)) return false;
  }
  return true;
}

void system_release(addrinfo* answers) {
  while (answers != nullptr) {
    addrinfo* next = answers->ai_next;
    std::free(answers);  // its address is in the same block
    answers = next;
  }
}

// Asks for the A records first and for the AAAA records only when the A
// answer does not settle it: a name that does not exist (NXDOMAIN) has no
// AAAA record either, and a failure or timeout of the A query reads as "not
// listed" at once, so a silent server costs one resolver timeout, as with
// getaddrinfo. A listed client thus costs one query, not an A and an AAAA
// query, and no /etc/hosts read (the query name ends with a dot, which no
// hosts entry matches). Returns 0 with the addresses, as getaddrinfo would.
int system_resolve(const char* name, addrinfo** answers) {
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
    if (reply.status == dns_reply::failed || !append_addresses(reply, &link)) {
      failed = true;
      break;
    }
    if (dnsbl_answer_lists(*answers)) break;
  }
  if (*answers != nullptr) return 0;
  return failed ? EAI_AGAIN : EAI_NONAME;
}

const dnsbl_resolver system_resolver{system_resolve, system_release};

std::atomic<const dnsbl_resolver*> resolver_in_force{&system_resolver};
std::mutex replacements_lock;

// Guarded by replacements_lock; never shrinks.
std::deque<dnsbl_resolver>& replacements() {
  static std::deque<dnsbl_resolver> kept;
  return kept;
}

}  // namespace

const dnsbl_resolver& current_dnsbl_resolver() {
  return *resolver_in_force.load(std::memory_order_acquire);
}

dnsbl_resolver set_dnsbl_resolver(dnsbl_resolver resolver) {
  const dnsbl_resolver* next = &system_resolver;
  if (resolver.resolve != nullptr) {
    std::lock_guard<std::mutex> hold(replacements_lock);
    next = &replacements().emplace_back(resolver);
  }
  return *resolver_in_force.exchange(next, std::memory_order_acq_rel);
}

bool dnsbl_uses_system_resolver() { return &current_dnsbl_resolver() == &system_resolver; }

res_state dnsbl_thread_resolver() { return worker_resolver.get(); }

addrinfo* dnsbl_answers_of(const dns_reply& reply) {
  addrinfo* answers = nullptr;
  addrinfo** link = &answers;
  if (!append_addresses(reply, &link)) {
    system_release(answers);
    return nullptr;
  }
  return answers;
}

void dnsbl_release_answers(addrinfo* answers) { system_release(answers); }
