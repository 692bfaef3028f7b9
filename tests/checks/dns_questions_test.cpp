// The DNS answers of a message are taken where a stage needs them: at the
// end of the message, or at the first recipient when a recipient whitelist
// exists; an aborted message abandons them.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "checks/dnsbl_lookup.hpp"
#include "checks/offline_answers.hpp"
#include "checks/offline_dns.hpp"
#include "connection/connection_context.hpp"
#include "filter/filter_description.hpp"
#include "fake_milter/fake_milter.hpp"
#include "fake_milter/log_capture.hpp"
#include "spamconfig/config_file.hpp"
#include "support/scripted_dnsbl.hpp"

namespace {

class dns_questions_test : public ::testing::Test {
 protected:
  void SetUp() override {
    offline_dns::reset();
    offline_dns::add_spf_record("fail.example", "v=spf1 -all");
    offline_dns::list_name("7.2.0.192.bl.example.");
  }
  void TearDown() override { offline_dns::reset(); }

  static void open(fake_milter::session& smtp) {
    ASSERT_EQ(smtp.connect("mx.example.net", "192.0.2.7"), SMFIS_CONTINUE);
    ASSERT_EQ(smtp.helo("mx.example.net"), SMFIS_CONTINUE);
  }

  static std::vector<std::string> dns_lines(const fake_milter::log_capture& logs) {
    std::vector<std::string> lines;
    for (const std::string& text : logs.texts()) {
      if (text.rfind("DNSBL: ", 0) == 0 || text.rfind("SPF ", 0) == 0) lines.push_back(text);
    }
    return lines;
  }
};

int slow_resolver(const char* /*name*/, addrinfo** answers) {
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  *answers = offline_answers::ipv4_answer("127.0.0.2");
  return 0;
}

}  // namespace

TEST_F(dns_questions_test, answers_are_taken_where_a_stage_needs_them) {
  struct case_t {
    const char* config;
    const char* taken_at;  // "rcpt" or "eom"
  } cases[] = {
      {"dnsbldou bl.example\ndnsblserv header\nspf header\n", "eom"},
      {"dnsbldou bl.example\ndnsblserv header\nspf header\nwhitelistto boss@\n", "rcpt"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.config);
    loaded_config config(c.config);
    fake_milter::log_capture logs;
    fake_milter::session smtp(filter_description);
    open(smtp);
    EXPECT_EQ(smtp.envfrom({"<alice@fail.example>"}), SMFIS_CONTINUE);
    EXPECT_TRUE(dns_lines(logs).empty()) << "MAIL FROM waits for no answer";
    EXPECT_EQ(smtp.envrcpt({"<bob@example.net>"}), SMFIS_CONTINUE);
    EXPECT_EQ(dns_lines(logs).size(), std::string(c.taken_at) == "rcpt" ? 2u : 0u);
    smtp.header("To", "bob@example.net");
    smtp.eoh();
    smtp.eom();
    std::vector<std::string> lines = dns_lines(logs);
    ASSERT_EQ(lines.size(), 2u) << "each answer is used once";
    EXPECT_EQ(lines[0].rfind("DNSBL: ", 0), 0u) << "the blocklist line comes first";
    EXPECT_EQ(lines[1].rfind("SPF fail: ", 0), 0u);
    bool marked = false;
    for (const std::string& change : smtp.changes)
      marked |= change.rfind("addheader X-QZ-DNSBL", 0) == 0;
    EXPECT_TRUE(marked);
  }
}

TEST_F(dns_questions_test, an_aborted_message_abandons_its_questions) {
  loaded_config config("dnsbldou bl.example\ndnsblserv header\n");
  dnsbl_resolver previous = set_dnsbl_resolver({slow_resolver, offline_answers::release_answers});
  fake_milter::log_capture logs;
  {
    fake_milter::session smtp(filter_description);
    open(smtp);
    auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(smtp.envfrom({"<alice@fail.example>"}), SMFIS_CONTINUE);
    smtp.abort();
    smtp.close();
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(250));
  }
  // The abandoned lookup finishes into memory of its own after the
  // connection is gone.
  std::this_thread::sleep_for(std::chrono::milliseconds(400));
  set_dnsbl_resolver(previous);
  EXPECT_TRUE(dns_lines(logs).empty());
}
