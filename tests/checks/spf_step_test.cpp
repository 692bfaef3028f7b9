// The SPF step against an in-memory zone: fresh results, the cache
// and its "(cached)" line, no record and DNS failures, the flags per action,
// IPv6 clients.
#include <gtest/gtest.h>

#include <sys/types.h>

#include <netinet/in.h>

#include <arpa/nameser.h>

#include <netdb.h>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <syslog.h>
#include <thread>
#include <vector>

#include "checks/spf_cache.hpp"
#include "checks/spf_step.hpp"
#include "support/scripted_spf_dns.hpp"
#include "common/text.hpp"
#include "fake_milter/log_capture.hpp"
#include "connection/connection_context.hpp"
#include "spamconfig/test_settings.hpp"
#include "spf/zone_dns.hpp"
#include "support/spf_step_run.hpp"

namespace {

zone_dns test_zone;
std::mutex zone_lock;  // steps may run on several threads at once
int servers_made = 0;  // DNS sources made: one per evaluation

class locked_zone : public dns_source {
 public:
  dns_reply lookup(const std::string& name, dns_type type) override {
    std::lock_guard hold(zone_lock);
    return test_zone.lookup(name, type);
  }
};

std::unique_ptr<dns_source> make_zone_dns(std::chrono::steady_clock::time_point /*deadline*/) {
  std::lock_guard hold(zone_lock);
  ++servers_made;
  return std::make_unique<locked_zone>();
}

void add_txt(const char* domain, const char* text) { test_zone.add_txt(domain, text); }

// A client, HELO and sender as the envelope stage leaves them.
struct message_case {
  const char* client;
  const char* sender;  // address without brackets
  bool ipv6 = false;
};

class spf_step_test : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_config_ = spam_config;
    spam_config.ttl = 36000;
    spam_config.refusefail = 1;
    spam_config.spf = ACTION_EJECT;
    spam_config.whitelistto = nullptr;
    test_zone = zone_dns{};
    add_txt("pass.example", "v=spf1 ip4:192.0.2.0/24 ip6:2001:db8::/32 -all");
    add_txt("soft.example", "v=spf1 ~all");
    add_txt("neutral.example", "v=spf1 ?all");
    test_zone.time_out("broken.example");
    previous_maker_ = set_spf_dns_maker(make_zone_dns);
    servers_made = 0;
    ASSERT_TRUE(spf_cache_init(default_spf_cache_size));
  }
  void TearDown() override {
    spf_cache_free();
    set_spf_dns_maker(previous_maker_);
    spam_config = saved_config_;
  }

  static connection_context make_context(const message_case& m) {
    connection_context context{};
    copy_bounded(context.client_addr, m.client);
    context.client_is_ipv6 = m.ipv6 ? 1 : 0;
    copy_bounded(context.client_name, "mx.example.test");
    copy_bounded(context.helo_name, "mx.example.test");
    copy_bounded(context.receiver_host, "mail.example.com");
    copy_bounded(context.sender_addr, m.sender);
    std::string from = std::string("<") + m.sender + ">";
    copy_bounded(context.mail_from, from.c_str());
    std::string key = std::string(m.client) + "|" + (std::strchr(m.sender, '@') + 1);
    copy_bounded(context.spf_cache_key, key.c_str());
    context.spf_result = 5;
    return context;
  }

  static std::string tail(const message_case& m) {
    return std::string(m.client) + ", mx.example.test, mx.example.test, <" + m.sender + ">";
  }

  fake_milter::log_capture logs_;

 private:
  spam_config_record saved_config_{};
  spf_dns_maker previous_maker_ = nullptr;
};

}  // namespace

TEST_F(spf_step_test, fresh_results_are_logged_stored_and_cached) {
  struct result_case {
    message_case m;
    const char* text;
    int32_t result;
  };
  const result_case cases[] = {
      {{"192.0.2.7", "alice@pass.example"}, "pass", 2},
      {{"198.51.100.1", "alice@pass.example"}, "fail", 3},
      {{"198.51.100.1", "alice@soft.example"}, "softfail", 4},
      {{"198.51.100.1", "alice@neutral.example"}, "neutral", 1},
      {{"2001:db8::25", "alice@pass.example", true}, "pass", 2},
      {{"2001:db9::25", "alice@pass.example", true}, "fail", 3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.m.client + std::string(" ") + c.m.sender);
    logs_.clear();
    connection_context context = make_context(c.m);
    run_spf_step(context, spam_config);
    EXPECT_EQ(context.spf_result, c.result);
    EXPECT_TRUE(logs_.contains(LOG_NOTICE, std::string("SPF ") + c.text + ": " + tail(c.m)))
        << ::testing::PrintToString(logs_.texts());

    connection_context again = make_context(c.m);
    int made = servers_made;
    run_spf_step(again, spam_config);
    EXPECT_EQ(servers_made, made) << "a cached result asks no DNS";
    EXPECT_EQ(again.spf_result, c.result);
    EXPECT_TRUE(logs_.contains(LOG_INFO, std::string("SPF ") + c.text + " (cached): " + tail(c.m)));
  }
}

TEST_F(spf_step_test, no_record_is_cached_none_and_a_dns_failure_an_uncached_temperror) {
  struct error_case {
    message_case m;
    const char* text;
    int32_t result;
    bool cached;
  };
  const error_case cases[] = {
      {{"192.0.2.7", "alice@nosuch.example"}, "none", 5, true},        // no SPF record at all
      {{"192.0.2.7", "alice@broken.example"}, "temperror", 6, false},  // DNS answers a failure
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.m.sender);
    logs_.clear();
    connection_context context = make_context(c.m);
    run_spf_step(context, spam_config);
    EXPECT_EQ(context.spf_result, c.result);
    EXPECT_TRUE(logs_.contains(LOG_NOTICE, std::string("SPF ") + c.text + ": " + tail(c.m)))
        << ::testing::PrintToString(logs_.texts());

    connection_context again = make_context(c.m);
    int made = servers_made;
    run_spf_step(again, spam_config);
    EXPECT_EQ(again.spf_result, c.result);
    EXPECT_EQ(servers_made, c.cached ? made : made + 1);
    EXPECT_EQ(logs_.contains(LOG_INFO, std::string("SPF ") + c.text + " (cached): " + tail(c.m)),
              c.cached);
  }
}

TEST_F(spf_step_test, ttl_zero_or_no_cache_evaluates_every_message) {
  const message_case m{"192.0.2.7", "alice@pass.example"};
  for (bool drop_array : {false, true}) {
    SCOPED_TRACE(drop_array ? "no cache array" : "ttl 0");
    logs_.clear();
    spam_config.ttl = drop_array ? 36000 : 0;
    if (drop_array) spf_cache_free();
    for (int n = 0; n < 2; ++n) {
      connection_context context = make_context(m);
      run_spf_step(context, spam_config);
      EXPECT_EQ(context.spf_result, 2);
    }
    int fresh = 0;
    for (const auto& line : logs_.lines()) {
      EXPECT_EQ(line.text.find("(cached)"), std::string::npos);
      if (line.priority == LOG_NOTICE && line.text == "SPF pass: " + tail(m)) ++fresh;
    }
    EXPECT_EQ(fresh, 2);
  }
}

TEST_F(spf_step_test, fail_flags_follow_action_and_cache_rules) {
  static pattern_entry recipient{const_cast<char*>("boss@example.com"), nullptr};
  struct flag_case {
    const char* name;
    check_action action;
    int32_t refusefail;
    pattern_entry* whitelistto;
    uint8_t fresh_header, fresh_eject, fresh_quarantine;
    uint8_t cached_header, cached_eject, cached_quarantine;
  };
  const flag_case cases[] = {
      {"header", ACTION_HEADER, 1, nullptr, 1, 0, 0, 1, 0, 0},
      {"eject", ACTION_EJECT, 1, nullptr, 0, 1, 0, 0, 1, 0},
      {"quarantine", ACTION_QUARANTINE, 1, nullptr, 0, 0, 1, 0, 0, 1},
      {"off", ACTION_OFF, 1, nullptr, 0, 0, 0, 0, 0, 0},
      {"refusefail off: only a fresh fail", ACTION_EJECT, 0, nullptr, 0, 1, 0, 0, 0, 0},
      {"whitelistto set: only a fresh fail", ACTION_EJECT, 1, &recipient, 0, 1, 0, 0, 0, 0},
  };
  const message_case m{"198.51.100.1", "alice@pass.example"};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    spf_cache_free();
    ASSERT_TRUE(spf_cache_init(default_spf_cache_size));
    spam_config.spf = c.action;
    spam_config.refusefail = c.refusefail;
    spam_config.whitelistto = c.whitelistto;
    connection_context fresh = make_context(m);
    run_spf_step(fresh, spam_config);
    EXPECT_EQ(fresh.spf_result, 3);
    EXPECT_EQ(fresh.spf_header, c.fresh_header);
    EXPECT_EQ(fresh.spf_eject, c.fresh_eject);
    EXPECT_EQ(fresh.spf_quarantine, c.fresh_quarantine);
    connection_context cached = make_context(m);
    run_spf_step(cached, spam_config);
    EXPECT_EQ(cached.spf_result, 3);
    EXPECT_EQ(cached.spf_header, c.cached_header);
    EXPECT_EQ(cached.spf_eject, c.cached_eject);
    EXPECT_EQ(cached.spf_quarantine, c.cached_quarantine);
  }
  spam_config.whitelistto = nullptr;
}

TEST_F(spf_step_test, pass_raises_no_flag) {
  connection_context context = make_context({"192.0.2.7", "alice@pass.example"});
  run_spf_step(context, spam_config);
  EXPECT_EQ(context.spf_header + context.spf_eject + context.spf_quarantine, 0);
}

TEST_F(spf_step_test, result_of_one_domain_never_serves_another) {
  // Same client, domains that share a long prefix: each gets its own result.
  std::string label =
      std::string(60, 'x') + '.' + std::string(60, 'y') + '.' + std::string(60, 'z');
  add_txt((label + ".pass.example").c_str(), "v=spf1 ip4:192.0.2.0/24 -all");
  add_txt((label + ".pass.example.net").c_str(), "v=spf1 -all");
  connection_context first = make_context({"192.0.2.7", ("a@" + label + ".pass.example").c_str()});
  run_spf_step(first, spam_config);
  EXPECT_EQ(first.spf_result, 2);
  std::string other = "a@" + label + ".pass.example.net";
  connection_context second = make_context({"192.0.2.7", other.c_str()});
  run_spf_step(second, spam_config);
  EXPECT_EQ(second.spf_result, 3);
}

TEST_F(spf_step_test, an_error_result_logs_what_went_wrong) {
  connection_context context = make_context({"192.0.2.7", "alice@broken.example"});
  run_spf_step(context, spam_config);
  EXPECT_EQ(context.spf_result, 6);
  EXPECT_TRUE(logs_.contains(LOG_INFO,
                             "SPF temperror for broken.example: DNS failure fetching "
                             "the record of broken.example"))
      << ::testing::PrintToString(logs_.texts());
}

TEST_F(spf_step_test, parallel_steps_share_one_entry_per_key) {
  // Several connections evaluate the same client and domain at once: all get
  // the result, and the cache ends with a single entry for the key.
  const message_case m{"192.0.2.7", "alice@pass.example"};
  std::vector<std::thread> workers;
  std::vector<int32_t> results(4, 0);
  for (std::size_t t = 0; t < results.size(); ++t) {
    workers.emplace_back([&, t] {
      for (int n = 0; n < 50; ++n) {
        connection_context context = make_context(m);
        run_spf_step(context, spam_config);
        if (context.spf_result != 2) return;
      }
      results[t] = 2;
    });
  }
  for (auto& worker : workers) worker.join();
  for (int32_t result : results) EXPECT_EQ(result, 2);
  EXPECT_EQ(spf_cache_entry_count(), 1U);
}
