// The DNS budget of one SPF evaluation, against an offline zone: the limits
// of RFC 7208 (10 DNS-querying terms, 2 void lookups) hold across includes
// and redirects, and end the evaluation with permerror.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "checks/offline_answers.hpp"
#include "checks/offline_dns.hpp"
#include "spf/evaluate_spf.hpp"
#include "spf/term_budget.hpp"

namespace {

int questions_asked = 0;
SPF_dns_server_t* counted_zone = nullptr;

SPF_dns_rr_t* count_and_ask(SPF_dns_server_t* layer, const char* domain, ns_type type,
                            int should_cache) {
  ++questions_asked;
  return SPF_dns_lookup(layer->layer_below, domain, type, should_cache);
}

// A server whose questions are counted before they reach the zone.
SPF_server_t* counting_zone_server() {
  SPF_server_t* server = offline_answers::make_zone_server();
  static SPF_dns_server_t layer{};
  layer.lookup = count_and_ask;
  layer.layer_below = server->resolver;
  layer.name = "counting";
  server->resolver = &layer;
  counted_zone = layer.layer_below;
  return server;
}

class term_budget_test : public ::testing::Test {
 protected:
  void SetUp() override {
    offline_dns::reset();
    questions_asked = 0;
    previous_ = set_spf_server_maker(counting_zone_server);
  }
  void TearDown() override { set_spf_server_maker(previous_); }

  static spf_evaluation evaluate(const char* sender) {
    spf_question question{};
    std::snprintf(question.client_addr, sizeof question.client_addr, "192.0.2.7");
    std::snprintf(question.helo_name, sizeof question.helo_name, "mx.example.net");
    std::snprintf(question.sender_addr, sizeof question.sender_addr, "%s", sender);
    std::snprintf(question.receiver_host, sizeof question.receiver_host, "mx.local");
    return evaluate_spf(question);
  }

 private:
  spf_server_maker previous_ = nullptr;
};

void add_record(const std::string& domain, const std::string& text) {
  offline_dns::add_spf_record(domain.c_str(), text.c_str());
}

void add_address(const std::string& domain, const char* address) {
  ASSERT_TRUE(offline_answers::add_zone_record(domain.c_str(), ns_t_a, address));
}

// hN.example, one of the hosts the records name.
void add_host(int n) {
  char name[32];
  std::snprintf(name, sizeof name, "h%d.example", n);
  add_address(name, "198.51.100.1");
}

// Ten includes at every level, five levels deep, each level's ten records
// included by every record above: libspf2 alone would ask 111,111
// questions.
void add_include_tree(int levels) {
  auto name = [](int level, int branch) {
    char text[64];
    std::snprintf(text, sizeof text, "b%d.l%d.tree.example", branch, level);
    return std::string(text);
  };
  for (int level = 0; level <= levels; ++level) {
    std::string record = "v=spf1";
    if (level < levels) {
      for (int branch = 0; branch < 10; ++branch) record += " include:" + name(level + 1, branch);
    }
    record += level == 0 ? " -all" : " ?all";
    if (level == 0) {
      add_record("tree.example", record);
      continue;
    }
    for (int branch = 0; branch < 10; ++branch) add_record(name(level, branch), record);
  }
}

}  // namespace

TEST_F(term_budget_test, records_within_the_limits_keep_their_result) {
  struct case_t {
    const char* record;
    int32_t result;
  } cases[] = {
      {"v=spf1 a:h1.example a:h2.example a:h3.example a:h4.example a:h5.example a:h6.example "
       "a:h7.example a:h8.example a:h9.example ip4:192.0.2.7 -all",
       SPF_RESULT_PASS},
      {"v=spf1 a:void1.example a:void2.example ip4:192.0.2.7 -all", SPF_RESULT_PASS},
      {"v=spf1 include:inc.example -all", SPF_RESULT_PASS},
  };
  add_record("inc.example", "v=spf1 ip4:192.0.2.0/24 -all");
  for (int n = 1; n <= 9; ++n) add_host(n);
  for (const auto& c : cases) {
    offline_answers::add_zone_record("within.example", ns_t_txt, c.record);
    spf_evaluation outcome = evaluate("alice@within.example");
    EXPECT_EQ(outcome.kind, spf_evaluation::answered) << c.record;
    EXPECT_EQ(outcome.result, c.result) << c.record;
    offline_dns::reset();
    for (int n = 1; n <= 9; ++n) add_host(n);
    add_record("inc.example", "v=spf1 ip4:192.0.2.0/24 -all");
  }
}

TEST_F(term_budget_test, passing_a_limit_is_permerror) {
  struct case_t {
    const char* what;
    const char* record;
  } cases[] = {
      {"eleven terms",
       "v=spf1 a:h1.example a:h2.example a:h3.example a:h4.example a:h5.example "
       "a:h6.example a:h7.example a:h8.example a:h9.example a:h10.example "
       "a:h11.example ip4:192.0.2.7 -all"},
      {"three void lookups",
       "v=spf1 a:void1.example a:void2.example a:void3.example "
       "ip4:192.0.2.7 -all"},
      {"void lookups in includes",
       "v=spf1 include:v1.example include:v2.example ip4:192.0.2.7 -all"},
  };
  for (const auto& c : cases) {
    offline_dns::reset();
    for (int n = 1; n <= 11; ++n) add_host(n);
    add_record("v1.example", "v=spf1 a:void1.example a:void2.example ?all");
    add_record("v2.example", "v=spf1 a:void3.example ?all");
    add_record("over.example", c.record);
    spf_evaluation outcome = evaluate("alice@over.example");
    EXPECT_EQ(outcome.kind, spf_evaluation::answered) << c.what;
    EXPECT_EQ(outcome.result, SPF_RESULT_PERMERROR) << c.what;
  }
}

TEST_F(term_budget_test, an_include_tree_asks_a_bounded_number_of_questions) {
  add_include_tree(5);
  spf_evaluation outcome = evaluate("alice@tree.example");
  EXPECT_EQ(outcome.kind, spf_evaluation::answered);
  EXPECT_EQ(outcome.result, SPF_RESULT_PERMERROR);
  // The sender's record and ten terms reach the zone; nothing after.
  EXPECT_LE(questions_asked, 1 + spf_term_limit + 1);
}

TEST_F(term_budget_test, the_explanation_is_no_term) {
  // Ten terms, then a fail whose explanation is fetched as an eleventh TXT.
  add_record("exp.example",
             "v=spf1 a:h1.example a:h2.example a:h3.example a:h4.example "
             "a:h5.example a:h6.example a:h7.example a:h8.example a:h9.example "
             "a:h10.example -all exp=why.exp.example");
  add_record("why.exp.example", "not allowed");
  for (int n = 1; n <= 10; ++n) add_host(n);
  spf_evaluation outcome = evaluate("alice@exp.example");
  EXPECT_EQ(outcome.kind, spf_evaluation::answered);
  EXPECT_EQ(outcome.result, SPF_RESULT_FAIL);
}
