#include "offline_seams.hpp"

#include <sys/types.h>

#include <netinet/in.h>

#include <arpa/inet.h>
#include <arpa/nameser.h>
#include <cstdlib>
#include <cstring>
#include <netdb.h>
#include <string>
#include <sys/socket.h>

extern "C" {
#include <spf2/spf.h>
#include <spf2/spf_dns_zone.h>
}

#include "checks/dnsbl_lookup.hpp"
#include "checks/spf_step.hpp"

namespace {

SPF_dns_server_t* spf_zone = nullptr;

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

int answer_locally(const char* name, addrinfo** answers) {
  *answers = nullptr;
  std::string question = name;
  if (question == "7.2.0.192.bl.test.") {
    *answers = ipv4_answer("127.0.0.2", nullptr);
  } else if (question == "8.2.0.192.bl.test.") {
    *answers = ipv4_answer("127.255.255.254", nullptr);
  } else if (question == "9.2.0.192.bl.test.") {
    *answers = ipv4_answer("127.255.255.252", ipv6_answer("2001:db8::2", nullptr));
  } else {
    return EAI_NONAME;
  }
  return 0;
}

void release_answers(addrinfo* answers) {
  while (answers != nullptr) {
    addrinfo* next = answers->ai_next;
    std::free(answers->ai_addr);
    std::free(answers);
    answers = next;
  }
}

SPF_server_t* make_zone_server() { return SPF_server_new_dns(spf_zone, 0); }

void add_txt(const char* domain, const char* text) {
  if (SPF_dns_zone_add_str(spf_zone, domain, ns_t_txt, NETDB_SUCCESS, text) != SPF_E_SUCCESS) {
    std::abort();
  }
}

void add_a(const char* domain, const char* address) {
  if (SPF_dns_zone_add_str(spf_zone, domain, ns_t_a, NETDB_SUCCESS, address) != SPF_E_SUCCESS) {
    std::abort();
  }
}

}  // namespace

namespace fuzz {

void install_offline_seams() {
  // A zone layer with no layer below it: a name it does not hold does not
  // exist, and no question ever leaves the process.
  spf_zone = SPF_dns_zone_new(nullptr, "fuzz", 0);
  if (spf_zone == nullptr) std::abort();
  add_txt("pass.test", "v=spf1 ip4:192.0.2.0/24 ip6:2001:db8::/32 -all");
  add_txt("fail.test", "v=spf1 -all");
  add_txt("soft.test", "v=spf1 ~all");
  add_txt("neutral.test", "v=spf1 ?all");
  add_txt("include.test", "v=spf1 include:pass.test a:mx.include.test -all");
  add_a("mx.include.test", "198.51.100.25");
  add_txt("redirect.test", "v=spf1 redirect=fail.test");
  add_txt("macro.test", "v=spf1 exists:%{ir}.%{l1r+-}._spf.%{d} -all");
  add_txt("bad-record.test", "v=spf1 ip4:300.1.1.1/40 foo:bar -all");
  set_dnsbl_resolver({answer_locally, release_answers});
  set_spf_server_maker(make_zone_server);
}

}  // namespace fuzz
