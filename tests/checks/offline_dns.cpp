#include "checks/offline_dns.hpp"

#include <gtest/gtest.h>

#include <map>
#include <mutex>

#include "checks/dnsbl_lookup.hpp"
#include "checks/offline_answers.hpp"
#include "support/scripted_dnsbl.hpp"
#include "support/scripted_spf_dns.hpp"

namespace {

// The blocklist lookups run on several connections' threads at once.
std::mutex names_lock;
std::map<std::string, std::string> listed;  // guarded by names_lock
std::vector<std::string> questions;         // guarded by names_lock

int answer_listed(const char* name, addrinfo** answers) {
  std::lock_guard<std::mutex> hold(names_lock);
  questions.emplace_back(name);
  *answers = nullptr;
  auto found = listed.find(name);
  if (found == listed.end()) return EAI_NONAME;
  *answers = offline_answers::ipv4_answer(found->second.c_str());
  return 0;
}

void make_zone() { offline_answers::new_spf_zone("offline"); }

class offline_environment : public ::testing::Environment {
 public:
  void SetUp() override {
    make_zone();
    set_dnsbl_resolver({answer_listed, offline_answers::release_answers});
    set_spf_dns_maker(offline_answers::make_zone_dns);
  }
  void TearDown() override {
    set_spf_dns_maker(nullptr);
    set_dnsbl_resolver({nullptr, nullptr});
    offline_answers::free_spf_zone();
  }
};

[[maybe_unused]] ::testing::Environment* const environment =
    ::testing::AddGlobalTestEnvironment(new offline_environment);

}  // namespace

namespace offline_dns {

void list_name(const std::string& name, const std::string& answer) {
  std::lock_guard<std::mutex> hold(names_lock);
  listed[name] = answer;
}

void add_spf_record(const char* domain, const char* text) {
  ASSERT_TRUE(offline_answers::add_zone_record(domain, ns_t_txt, text));
}

void reset() {
  {
    std::lock_guard<std::mutex> hold(names_lock);
    listed.clear();
    questions.clear();
  }
  make_zone();
}

std::vector<std::string> blocklist_questions() {
  std::lock_guard<std::mutex> hold(names_lock);
  return questions;
}

}  // namespace offline_dns
