#include "checks/offline_dns.hpp"

#include <gtest/gtest.h>

#include <sys/types.h>

#include <netinet/in.h>

#include <arpa/inet.h>
#include <arpa/nameser.h>
#include <cstdlib>
#include <map>
#include <netdb.h>
#include <sys/socket.h>

extern "C" {
#include <spf2/spf.h>
#include <spf2/spf_dns_zone.h>
}

#include "checks/dnsbl_lookup.hpp"
#include "checks/spf_step.hpp"

namespace {

std::map<std::string, std::string> listed;
std::vector<std::string> questions;
SPF_dns_server_t* spf_zone = nullptr;

int answer_listed(const char* name, addrinfo** answers) {
  questions.emplace_back(name);
  *answers = nullptr;
  auto found = listed.find(name);
  if (found == listed.end()) return EAI_NONAME;
  auto* answer = static_cast<addrinfo*>(std::calloc(1, sizeof(addrinfo)));
  auto* address = static_cast<sockaddr_in*>(std::calloc(1, sizeof(sockaddr_in)));
  address->sin_family = AF_INET;
  inet_pton(AF_INET, found->second.c_str(), &address->sin_addr);
  answer->ai_family = AF_INET;
  answer->ai_addr = reinterpret_cast<sockaddr*>(address);
  answer->ai_addrlen = sizeof(sockaddr_in);
  *answers = answer;
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

void make_zone() {
  if (spf_zone != nullptr) SPF_dns_free(spf_zone);
  spf_zone = SPF_dns_zone_new(nullptr, "offline", 0);
}

class offline_environment : public ::testing::Environment {
 public:
  void SetUp() override {
    make_zone();
    set_dnsbl_resolver({answer_listed, release_answers});
    set_spf_server_maker(make_zone_server);
  }
  void TearDown() override {
    set_spf_server_maker(nullptr);
    set_dnsbl_resolver({nullptr, nullptr});
    SPF_dns_free(spf_zone);
    spf_zone = nullptr;
  }
};

[[maybe_unused]] ::testing::Environment* const environment =
    ::testing::AddGlobalTestEnvironment(new offline_environment);

}  // namespace

namespace offline_dns {

void list_name(const std::string& name, const std::string& answer) { listed[name] = answer; }

void add_spf_record(const char* domain, const char* text) {
  ASSERT_EQ(SPF_dns_zone_add_str(spf_zone, domain, ns_t_txt, NETDB_SUCCESS, text),
            SPF_E_SUCCESS);
}

void reset() {
  listed.clear();
  questions.clear();
  make_zone();
}

std::vector<std::string> blocklist_questions() { return questions; }

}  // namespace offline_dns
