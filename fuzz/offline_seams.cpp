#include "offline_seams.hpp"

#include <cstdlib>
#include <string>

#include "checks/dnsbl_lookup.hpp"
#include "checks/offline_answers.hpp"
#include "support/scripted_dnsbl.hpp"
#include "support/scripted_spf_dns.hpp"

namespace {

using offline_answers::ipv4_answer;
using offline_answers::ipv6_answer;

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

void add_txt(const char* domain, const char* text) {
  if (!offline_answers::add_zone_record(domain, ns_t_txt, text)) std::abort();
}

void add_a(const char* domain, const char* address) {
  if (!offline_answers::add_zone_record(domain, ns_t_a, address)) std::abort();
}

}  // namespace

namespace fuzz {

void install_offline_seams() {
  // An in-memory zone: a name it does not hold does not
  // exist, and no question ever leaves the process.
  offline_answers::new_spf_zone("fuzz");
  add_txt("pass.test", "v=spf1 ip4:192.0.2.0/24 ip6:2001:db8::/32 -all");
  add_txt("fail.test", "v=spf1 -all");
  add_txt("soft.test", "v=spf1 ~all");
  add_txt("neutral.test", "v=spf1 ?all");
  add_txt("include.test", "v=spf1 include:pass.test a:mx.include.test -all");
  add_a("mx.include.test", "198.51.100.25");
  add_txt("redirect.test", "v=spf1 redirect=fail.test");
  add_txt("macro.test", "v=spf1 exists:%{ir}.%{l1r+-}._spf.%{d} -all");
  add_txt("bad-record.test", "v=spf1 ip4:300.1.1.1/40 foo:bar -all");
  set_dnsbl_resolver({answer_locally, offline_answers::release_answers});
  set_spf_dns_maker(offline_answers::make_zone_dns);
}

}  // namespace fuzz
