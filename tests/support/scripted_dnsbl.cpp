// The scripted blocklist resolver (see scripted_dnsbl.hpp).
#include "support/scripted_dnsbl.hpp"

#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>

#include "checks/dnsbl_answers.hpp"
#include "checks/dnsbl_resolver.hpp"

namespace {

int find_nothing(const char* /*name*/, addrinfo** answers) {
  *answers = nullptr;
  return EAI_NONAME;
}

void release_nothing(addrinfo* /*answers*/) {}

const dnsbl_resolver no_names{find_nothing, release_nothing};

std::atomic<const dnsbl_resolver*> resolver_in_force{&no_names};
std::mutex replacements_lock;

// Guarded by replacements_lock; never shrinks.
std::deque<dnsbl_resolver>& replacements() {
  static std::deque<dnsbl_resolver> kept;
  return kept;
}

// The answers copied as the system resolver gives them (one block per
// address), so the lookup frees them as it frees the system resolver's,
// whichever resolver is in force by then.
addrinfo* copy_of(const addrinfo* answers) {
  addrinfo* copies = nullptr;
  addrinfo** link = &copies;
  for (; answers != nullptr; answers = answers->ai_next) {
    auto* node = static_cast<addrinfo*>(std::calloc(1, sizeof(addrinfo) + sizeof(sockaddr_in6)));
    if (node == nullptr) break;
    node->ai_family = answers->ai_family;
    node->ai_socktype = SOCK_STREAM;
    node->ai_addrlen = answers->ai_family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
    if (answers->ai_addr != nullptr) {
      node->ai_addr = reinterpret_cast<sockaddr*>(node + 1);
      std::memcpy(node->ai_addr, answers->ai_addr, node->ai_addrlen);
    }
    *link = node;
    link = &node->ai_next;
  }
  return copies;
}

}  // namespace

dnsbl_resolver set_dnsbl_resolver(dnsbl_resolver resolver) {
  const dnsbl_resolver* next = &no_names;
  if (resolver.resolve != nullptr) {
    std::lock_guard<std::mutex> hold(replacements_lock);
    next = &replacements().emplace_back(resolver);
  }
  return *resolver_in_force.exchange(next, std::memory_order_acq_rel);
}

int dnsbl_resolve(const char* name, addrinfo** answers) {
  const dnsbl_resolver& resolver = *resolver_in_force.load(std::memory_order_acquire);
  addrinfo* scripted = nullptr;
  int status = resolver.resolve(name, &scripted);
  *answers = copy_of(scripted);
  if (scripted != nullptr) resolver.release(scripted);
  return status;
}

void dnsbl_release_resolved(addrinfo* answers) { dnsbl_release_answers(answers); }

res_state dnsbl_thread_resolver() { return nullptr; }
