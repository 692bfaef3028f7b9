#include "checks/offline_answers.hpp"

#include <sys/types.h>

#include <netinet/in.h>

#include <arpa/inet.h>
#include <cstdlib>
#include <sys/socket.h>

#include <mutex>

#include "spf/check_host.hpp"
#include "spf/zone_dns.hpp"

namespace {

zone_dns spf_zone;
std::mutex spf_zone_lock;  // evaluations on several threads ask the one zone

class zone_view : public dns_source {
 public:
  dns_reply lookup(const std::string& name, dns_type type) override {
    std::lock_guard hold(spf_zone_lock);
    return spf_zone.lookup(name, type);
  }
};

}  // namespace

namespace offline_answers {

addrinfo* ipv4_answer(const char* text, addrinfo* next) {
  auto* answer = static_cast<addrinfo*>(std::calloc(1, sizeof(addrinfo)));
  auto* address = static_cast<sockaddr_in*>(std::calloc(1, sizeof(sockaddr_in)));
  address->sin_family = AF_INET;
  inet_pton(AF_INET, text, &address->sin_addr);
  answer->ai_family = AF_INET;
  answer->ai_addr = reinterpret_cast<sockaddr*>(address);
  answer->ai_addrlen = sizeof(sockaddr_in);
  answer->ai_next = next;
  return answer;
}

addrinfo* ipv6_answer(const char* text, addrinfo* next) {
  auto* answer = static_cast<addrinfo*>(std::calloc(1, sizeof(addrinfo)));
  auto* address = static_cast<sockaddr_in6*>(std::calloc(1, sizeof(sockaddr_in6)));
  address->sin6_family = AF_INET6;
  inet_pton(AF_INET6, text, &address->sin6_addr);
  answer->ai_family = AF_INET6;
  answer->ai_addr = reinterpret_cast<sockaddr*>(address);
  answer->ai_addrlen = sizeof(sockaddr_in6);
  answer->ai_next = next;
  return answer;
}

void release_answers(addrinfo* answers) {
  while (answers != nullptr) {
    addrinfo* next = answers->ai_next;
    std::free(answers->ai_addr);
    std::free(answers);
    answers = next;
  }
}

void new_spf_zone(const char* /*name*/) { spf_zone = zone_dns{}; }

void free_spf_zone() { spf_zone = zone_dns{}; }

bool add_zone_record(const char* domain, ns_type type, const char* text) {
  ip_address address;
  switch (type) {
    case ns_t_txt: spf_zone.add_txt(domain, text); return true;
    case ns_t_a:
    case ns_t_aaaa:
      if (!parse_ip_address(text, address)) return false;
      spf_zone.add_address(domain, text);
      return true;
    case ns_t_mx: spf_zone.add_mx(domain, text); return true;
    case ns_t_ptr: spf_zone.add_ptr(domain, text); return true;
    default: return false;
  }
}

std::unique_ptr<dns_source> make_zone_dns(std::chrono::steady_clock::time_point /*deadline*/) {
  return std::make_unique<zone_view>();
}

}  // namespace offline_answers
