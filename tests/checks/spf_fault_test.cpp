// An SPF evaluation that gave no answer (its process killed or ended, past
// spftimeout, or none to be had) is never cached: the next message of the
// same client and sender domain asks again, while an answer serves it from
// the cache. Played through the stages, with the evaluations replaced by
// scripted outcomes.
#include <gtest/gtest.h>

#include <csignal>
#include <string>

#include "checks/spf_cache.hpp"
#include "filter/filter_description.hpp"
#include "fake_milter/fake_milter.hpp"
#include "fake_milter/log_capture.hpp"
#include "spamconfig/config_file.hpp"
#include "spamconfig/spam_config.hpp"
#include "spf/spf_asker.hpp"
#include "spf/spf_result.hpp"
#include "support/in_process_spf.hpp"

namespace {

// What each scripted evaluation gives, and how many were asked.
spf_evaluation scripted;
int questions_asked = 0;

spf_evaluation answer_scripted(const spf_question& /*question*/) {
  ++questions_asked;
  return scripted;
}

spf_evaluation fault(spf_fault why, int signal = 0) {
  spf_evaluation outcome;
  outcome.fault = why;
  outcome.signal = signal;
  outcome.result = spf_code::pass;  // what a careless reader might take
  return outcome;
}

spf_evaluation pass() {
  spf_evaluation outcome;
  outcome.kind = spf_evaluation::answered;
  outcome.result = spf_code::pass;
  return outcome;
}

class spf_fault_test : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(spf_cache_init(default_spf_cache_size));
    script_spf_answers(answer_scripted);
    questions_asked = 0;
  }
  void TearDown() override {
    script_spf_answers(nullptr);
    spf_cache_free();
  }

  // One message from alice@example.org at 192.0.2.7, to its end.
  static void send_message() {
    fake_milter::session smtp(filter_description);
    ASSERT_EQ(smtp.connect("mx.example.net", "192.0.2.7"), SMFIS_CONTINUE);
    ASSERT_EQ(smtp.helo("mx.example.net"), SMFIS_CONTINUE);
    ASSERT_EQ(smtp.envfrom({"<alice@example.org>"}), SMFIS_CONTINUE);
    ASSERT_EQ(smtp.envrcpt({"<bob@example.net>"}), SMFIS_CONTINUE);
    smtp.header("To", "bob@example.net");
    smtp.eoh();
    smtp.eom();
  }
};

}  // namespace

TEST_F(spf_fault_test, the_message_after_a_failed_evaluation_asks_again) {
  struct case_t {
    const char* name;
    spf_evaluation outcome;
    int asked_for_two;  // evaluations asked for two messages
  } cases[] = {
      {"killed", fault(spf_fault::died, SIGKILL), 2},
      {"ended without an answer", fault(spf_fault::died), 2},
      {"past spftimeout", fault(spf_fault::timed_out), 2},
      {"no evaluation process", fault(spf_fault::unavailable), 2},
      {"an answer is cached", pass(), 1},
  };
  loaded_config config("spf header\nttl 36000\n");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    spf_cache_free();
    ASSERT_TRUE(spf_cache_init(default_spf_cache_size));
    questions_asked = 0;
    fake_milter::log_capture logs;
    scripted = c.outcome;
    send_message();
    send_message();
    EXPECT_EQ(questions_asked, c.asked_for_two);
    bool served_from_cache = false;
    for (const std::string& text : logs.texts())
      served_from_cache |= text.rfind("SPF pass (cached): ", 0) == 0;
    EXPECT_EQ(served_from_cache, c.asked_for_two == 1);
  }
}
