#include "checks/offline_answers.hpp"

#include <sys/types.h>

#include <netinet/in.h>

#include <arpa/inet.h>
#include <cstdlib>
#include <sys/socket.h>

extern "C" {
#include <spf2/spf_dns_zone.h>
}

namespace {

SPF_dns_server_t* spf_zone = nullptr;

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

void new_spf_zone(const char* name) {
  free_spf_zone();
  spf_zone = SPF_dns_zone_new(nullptr, name, 0);
  if (spf_zone == nullptr) std::abort();
}

void free_spf_zone() {
  if (spf_zone != nullptr) SPF_dns_free(spf_zone);
  spf_zone = nullptr;
}

bool add_zone_record(const char* domain, ns_type type, const char* text) {
  return SPF_dns_zone_add_str(spf_zone, domain, type, NETDB_SUCCESS, text) == SPF_E_SUCCESS;
}

SPF_server_t* make_zone_server() { return SPF_server_new_dns(spf_zone, 0); }

}  // namespace offline_answers
