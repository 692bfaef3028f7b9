// What becomes of an SPF answer: for each result and for an evaluation that
// gave none, the log lines, the stored result, the first word of
// Received-SPF and whether the next message of the same client and domain
// is served from the cache.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <syslog.h>
#include <vector>

#include "checks/spf_cache.hpp"
#include "checks/spf_step.hpp"
#include "common/text.hpp"
#include "connection/connection_context.hpp"
#include "fake_milter/log_capture.hpp"
#include "message/eom_actions.hpp"
#include "spamconfig/test_settings.hpp"
#include "spf/check_host.hpp"
#include "spf/spf_result.hpp"

namespace {

constexpr const char* tail = "192.0.2.7, mx.example.net, mx.example.net, <alice@example.org>";

struct answer_case {
  const char* name;
  spf_evaluation outcome;
  const char* notice;  // LOG_NOTICE text before ": " + tail; null: none
  const char* other;   // the one line after it (LOG_INFO, or LOG_ERR for a fault); null: none
  int32_t stored;      // spf_result afterwards
  const char* header;  // Received-SPF begins with this word and " ("
  bool cached;
};

spf_evaluation answered(int32_t result, uint32_t letters = 0, const char* problem = "") {
  spf_evaluation outcome;
  outcome.kind = spf_evaluation::answered;
  outcome.result = result;
  outcome.macro_letters = letters;
  copy_bounded(outcome.problem, problem);
  return outcome;
}

spf_evaluation faulted(spf_fault why) {
  spf_evaluation outcome;
  outcome.fault = why;
  return outcome;
}

connection_context make_context() {
  connection_context context{};
  copy_bounded(context.client_addr, "192.0.2.7");
  copy_bounded(context.client_name, "mx.example.net");
  copy_bounded(context.helo_name, "mx.example.net");
  copy_bounded(context.receiver_host, "mail.example.com");
  copy_bounded(context.sender_addr, "alice@example.org");
  copy_bounded(context.mail_from, "<alice@example.org>");
  copy_bounded(context.spf_cache_key, "192.0.2.7|example.org");
  context.spf_result = spf_code::none;
  return context;
}

class spf_answer_test : public testing::TestWithParam<answer_case> {
 protected:
  void SetUp() override {
    saved_ = spam_config;
    spam_config.ttl = 36000;
    spam_config.spftimeout = 20;
    spam_config.spf = ACTION_HEADER;
    ASSERT_TRUE(spf_cache_init(default_spf_cache_size));
  }
  void TearDown() override {
    spf_cache_free();
    spam_config = saved_;
  }

 private:
  spam_config_record saved_{};
};

TEST_P(spf_answer_test, is_logged_stored_headed_and_cached_as_itself) {
  const answer_case& c = GetParam();
  fake_milter::log_capture logs;
  connection_context context = make_context();
  apply_spf(context, spam_config, 0, c.outcome);

  std::vector<fake_milter::logged_line> expected;
  if (c.notice != nullptr) expected.push_back({LOG_NOTICE, std::string(c.notice) + ": " + tail});
  if (c.other != nullptr) expected.push_back({c.notice != nullptr ? LOG_INFO : LOG_ERR, c.other});
  EXPECT_EQ(logs.lines(), expected);
  EXPECT_EQ(context.spf_result, c.stored);

  char value[512];
  format_received_spf(value, sizeof value, context);
  EXPECT_EQ(std::string(value).substr(0, std::strlen(c.header) + 2), std::string(c.header) + " (");

  connection_context next = make_context();
  EXPECT_EQ(spf_cached_value(next, spam_config), c.cached ? c.stored : 0);
}

const char* problem = "DNS lookup failure";

INSTANTIATE_TEST_SUITE_P(
    results, spf_answer_test,
    testing::Values(
        answer_case{"neutral", answered(1), "SPF neutral", nullptr, 1, "Neutral", true},
        answer_case{"pass", answered(2), "SPF pass", nullptr, 2, "Pass", true},
        answer_case{"fail", answered(3), "SPF fail", nullptr, 3, "Fail", true},
        answer_case{"softfail", answered(4), "SPF softfail", nullptr, 4, "SoftFail", true},
        answer_case{"none", answered(5), "SPF none", nullptr, 5, "None", true},
        answer_case{"temperror", answered(6, 0, problem), "SPF temperror",
                    "SPF temperror for example.org: DNS lookup failure", 6, "TempError", false},
        answer_case{"permerror", answered(7, 0, "Syntax error"), "SPF permerror",
                    "SPF permerror for example.org: Syntax error", 7, "PermError", false},
        answer_case{"permerror_without_problem", answered(7), "SPF permerror", nullptr, 7,
                    "PermError", false},
        answer_case{"invalid_leaves_none", answered(0), "SPF (invalid)", nullptr, 5, "None", false},
        // Letters of the key (domain, client address) keep a result cacheable;
        // those beyond it do not.
        answer_case{"pass_using_d_and_i", answered(2, macro_bit('d') | macro_bit('i')), "SPF pass",
                    nullptr, 2, "Pass", true},
        answer_case{"pass_using_l", answered(2, macro_bit('l')), "SPF pass", nullptr, 2, "Pass",
                    false},
        answer_case{"fail_using_h", answered(3, macro_bit('h')), "SPF fail", nullptr, 3, "Fail",
                    false},
        answer_case{"fault_is_temperror", faulted(spf_fault::timed_out), nullptr,
                    "[ERROR] SPF evaluation for example.org failed: no answer within 20 s, "
                    "evaluation ended",
                    6, "TempError", false}),
    [](const testing::TestParamInfo<answer_case>& param_info) {
      return std::string(param_info.param.name);
    });

}  // namespace
