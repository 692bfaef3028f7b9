// teslo_envfrom through the fake libmilter: exemptions, the HELO and
// blocklist checks, the sender address and cache key, the message record,
// and what one message's verdicts leave for the next on the same connection.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <syslog.h>

#include "checks/dns_questions.hpp"
#include "checks/dnsbl_lookup.hpp"
#include "checks/offline_answers.hpp"
#include "checks/offline_dns.hpp"
#include "checks/spf_step.hpp"
#include "support/scripted_spf_dns.hpp"
#include "filter/filter_description.hpp"
#include "fake_milter/fake_milter.hpp"
#include "fake_milter/log_capture.hpp"
#include "connection/connection_context.hpp"
#include "connection/verdicts.hpp"
#include "spamconfig/config_file.hpp"
#include "support/scripted_dnsbl.hpp"

namespace {

class envfrom_test : public ::testing::Test {
 protected:
  void SetUp() override {
    offline_dns::reset();
    offline_dns::add_spf_record("pass.example", "v=spf1 ip4:192.0.2.0/24 -all");
  }
  void TearDown() override { offline_dns::reset(); }

  // A session connected from 192.0.2.7 "mx.example.net", HELO given.
  static void open(fake_milter::session& smtp, const char* helo = "mx.example.net",
                   const char* address = "192.0.2.7", const char* host = "mx.example.net") {
    ASSERT_EQ(smtp.connect(host, address), SMFIS_CONTINUE);
    ASSERT_EQ(smtp.helo(helo), SMFIS_CONTINUE);
  }

  static connection_context& context(fake_milter::session& smtp) {
    return *smtp.context<connection_context>();
  }

  // MAIL FROM, then the message's DNS answers taken as a later stage would.
  static sfsistat answered_envfrom(fake_milter::session& smtp, std::vector<std::string> arguments) {
    sfsistat status = smtp.envfrom(std::move(arguments));
    if (auto* c = smtp.context<connection_context>()) (void)take_dns_answers(*c);
    return status;
  }
};

// Every verdict flag that belongs to one message, as a text ("" when none).
std::string message_flags(const connection_context& c) {
  std::string flags;
  auto add = [&](uint8_t flag, const char* name) {
    if (flag) flags += std::string(flags.empty() ? "" : " ") + name;
  };
  add(c.helo_header, "helo_header");
  add(c.helo_eject, "helo_eject");
  add(c.helo_quarantine, "helo_quarantine");
  add(c.to_header, "to_header");
  add(c.to_eject, "to_eject");
  add(c.to_quarantine, "to_quarantine");
  add(c.spf_header, "spf_header");
  add(c.spf_eject, "spf_eject");
  add(c.spf_quarantine, "spf_quarantine");
  add(c.harmful_header, "harmful_header");
  add(c.harmful_eject, "harmful_eject");
  add(c.harmful_quarantine, "harmful_quarantine");
  add(c.dnsbl_header, "dnsbl_header");
  add(c.dnsbl_eject, "dnsbl_eject");
  add(c.dnsbl_quarantine, "dnsbl_quarantine");
  return flags;
}

}  // namespace

TEST_F(envfrom_test, macros_grant_exemptions) {
  struct macro_case {
    const char* name;
    const char* value;
    uint8_t exempt;
  };
  const macro_case cases[] = {
      {"{msg_size}", "262144", 0},   {"{msg_size}", "262145", 1}, {"{auth_authen}", "", 1},
      {"{auth_authen}", "alice", 1}, {"{verify}", "ok", 0},       {"{verify}", "OK", 1},
      {"{verify}", "FAIL", 0},
  };
  loaded_config config("");
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.name) + "=" + c.value);
    fake_milter::session smtp(filter_description);
    open(smtp);
    smtp.macros[c.name] = c.value;
    EXPECT_EQ(answered_envfrom(smtp, {"<alice@pass.example>"}), SMFIS_CONTINUE);
    EXPECT_EQ(exempt(context(smtp)), c.exempt);
  }
}

TEST_F(envfrom_test, malformed_helo_is_logged_and_flagged_by_action) {
  struct helo_case {
    const char* config;
    const char* helo;
    bool logged;
    const char* flags;
  };
  const helo_case cases[] = {
      {"helocheck eject\n", "192.168.1.20", true, "helo_eject"},
      {"helocheck header\n", "LOCALHOST", true, "helo_header"},
      {"helocheck quarantine\n", "ppp-10-20-30.example", true, "helo_quarantine"},
      {"helocheck off\n", "192.168.1.20", true, ""},
      {"helocheck eject\n", "[192.168.1.20]", false, ""},
      {"helocheck eject\n", "mail.localhost", false, ""},
      {"helocheck eject\n", nullptr, false, ""},  // no HELO: "unknown"
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.config) + (c.helo != nullptr ? c.helo : "(no HELO)"));
    loaded_config config(c.config);
    fake_milter::log_capture logs;
    fake_milter::session smtp(filter_description);
    ASSERT_EQ(smtp.connect("mx.example.net", "192.0.2.7"), SMFIS_CONTINUE);
    if (c.helo != nullptr) smtp.helo(c.helo);
    smtp.macros["{auth_authen}"] = "alice";  // the check does not depend on exemptions
    EXPECT_EQ(answered_envfrom(smtp, {"<alice@pass.example>"}), SMFIS_CONTINUE);
    std::string helo = c.helo != nullptr ? c.helo : "unknown";
    EXPECT_EQ(logs.contains(LOG_NOTICE,
                            "malformed HELO: " + helo + ", mx.example.net, <alice@pass.example>"),
              c.logged);
    EXPECT_EQ(message_flags(context(smtp)), c.flags);
  }
}

TEST_F(envfrom_test, blocklist_hit_is_logged_flagged_and_spf_still_runs) {
  struct dnsbl_case {
    const char* config;
    const char* answer;
    bool logged;
    const char* flags;
  };
  const dnsbl_case cases[] = {
      {"dnsbldou bl.example\ndnsblserv eject\n", "127.0.0.2", true, "dnsbl_eject"},
      {"dnsbldou bl.example\ndnsblserv header\n", "127.0.0.4", true, "dnsbl_header"},
      {"dnsbldou bl.example\ndnsblserv quarantine\n", "127.0.0.2", true, "dnsbl_quarantine"},
      {"dnsbldou bl.example\ndnsblserv off\n", "127.0.0.2", true, ""},
      {"dnsbldou bl.example\ndnsblserv eject\n", "127.255.255.254", false, ""},
      {"dnsbldou other.example\ndnsblserv eject\n", "127.0.0.2", false, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.config) + c.answer);
    offline_dns::reset();
    offline_dns::add_spf_record("pass.example", "v=spf1 ip4:192.0.2.0/24 -all");
    offline_dns::list_name("7.2.0.192.bl.example.", c.answer);
    loaded_config config(c.config);
    fake_milter::log_capture logs;
    fake_milter::session smtp(filter_description);
    open(smtp);
    smtp.macros["{auth_authen}"] = "alice";  // asked whatever the exemption
    EXPECT_EQ(answered_envfrom(smtp, {"<alice@pass.example>"}), SMFIS_CONTINUE);
    EXPECT_EQ(logs.contains(LOG_NOTICE, "DNSBL: 192.0.2.7, mx.example.net, <alice@pass.example>"),
              c.logged);
    EXPECT_EQ(message_flags(context(smtp)), c.flags);
    EXPECT_EQ(context(smtp).spf_result, 2) << "the SPF step runs after the blocklist";
    EXPECT_EQ(offline_dns::blocklist_questions().size(), 1u);
  }
}

TEST_F(envfrom_test, sender_address_cache_key_and_record) {
  struct sender_case {
    const char* from;
    const char* helo;
    const char* sender_addr;  // "" when extraction fails
    const char* key;
    int32_t spf_result = 5;
  };
  const sender_case cases[] = {
      {"<Alice@Pass.Example>", "mx.example.net", "alice@pass.example", "192.0.2.7|pass.example", 2},
      {"<alice@example.org> SIZE=100", "mx", "alice@example.org", "192.0.2.7|example.org"},
      {"<>", "MX.Example.ORG", "postmaster@mx.example.org", "192.0.2.7|mx.example.org"},
      {"<a>", "mx", "", ""},
      {"<localpart>", "mx", "", ""},
      {"plain", "mx", "", ""},
      {"< a@b>", "mx", "", ""},
  };
  loaded_config config("");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.from);
    fake_milter::log_capture logs;
    fake_milter::session smtp(filter_description);
    open(smtp, c.helo);
    smtp.macros["i"] = "4AB12";
    smtp.macros["j"] = "mail.example.com";
    EXPECT_EQ(answered_envfrom(smtp, {c.from, "BODY=8BITMIME"}), SMFIS_CONTINUE);
    auto& ctx = context(smtp);
    EXPECT_STREQ(ctx.mail_from, c.from);
    EXPECT_STREQ(ctx.sender_addr, c.sender_addr);
    EXPECT_STREQ(ctx.spf_cache_key, c.key);
    ASSERT_NE(ctx.message, nullptr);
    EXPECT_EQ(ctx.message->sender, c.from);
    EXPECT_EQ(ctx.message->queue_id, "4AB12");
    EXPECT_FALSE(ctx.message->copy_header_added);
    EXPECT_EQ(ctx.spf_result, c.spf_result);
    bool spf_logged = false;
    for (const auto& text : logs.texts()) spf_logged |= text.rfind("SPF ", 0) == 0;
    EXPECT_EQ(spf_logged, c.sender_addr[0] != '\0');
    if (c.sender_addr[0] != '\0') {
      EXPECT_STREQ(ctx.receiver_host, "mail.example.com");
    }
  }
}

TEST_F(envfrom_test, null_sender_lowercases_helo_and_skips_sender_whitelist) {
  loaded_config config("whitelistfrom postmaster\n");
  fake_milter::session smtp(filter_description);
  open(smtp, "MX.Example.ORG");
  EXPECT_EQ(answered_envfrom(smtp, {"<>"}), SMFIS_CONTINUE);
  EXPECT_STREQ(context(smtp).helo_name, "mx.example.org");
  EXPECT_EQ(exempt(context(smtp)), 0);
  EXPECT_EQ(context(smtp).message->queue_id, "unknown");
}

TEST_F(envfrom_test, long_helo_and_long_client_address_are_never_cut) {
  loaded_config config("");
  std::string helo = std::string(115, 'h') + ".example.org";  // 127 characters
  fake_milter::session smtp(filter_description);
  open(smtp, helo.c_str(), "2001:db8:1234:5678:9abc:def0:1234:5678");
  EXPECT_EQ(answered_envfrom(smtp, {"<>"}), SMFIS_CONTINUE);
  EXPECT_EQ(std::string(context(smtp).sender_addr), "postmaster@" + helo);
  EXPECT_EQ(std::string(context(smtp).spf_cache_key),
            "2001:db8:1234:5678:9abc:def0:1234:5678|" + helo);

  std::string domain = std::string(100, 'd') + ".example";
  EXPECT_EQ(answered_envfrom(smtp, {"<" + std::string(10, 'a') + "@" + domain + ">"}),
            SMFIS_CONTINUE);
  EXPECT_EQ(std::string(context(smtp).spf_cache_key),
            "2001:db8:1234:5678:9abc:def0:1234:5678|" + domain);
}

TEST_F(envfrom_test, sender_whitelist_matches_lowercased_address) {
  loaded_config config("whitelistfrom Example.COM\n");
  for (const char* from : {"<Bob@Example.COM>", "<bob@example.com.test>"}) {
    SCOPED_TRACE(from);
    fake_milter::session smtp(filter_description);
    open(smtp);
    answered_envfrom(smtp, {from});
    EXPECT_EQ(exempt(context(smtp)), 1);
  }
}

TEST_F(envfrom_test, spf_result_and_flag_come_from_the_spf_step) {
  loaded_config config("spf eject\nttl 0\n");
  fake_milter::log_capture logs;
  fake_milter::session smtp(filter_description);
  open(smtp, "mx.example.net", "198.51.100.9");
  EXPECT_EQ(answered_envfrom(smtp, {"<alice@pass.example>"}), SMFIS_CONTINUE);
  EXPECT_EQ(context(smtp).spf_result, 3);
  EXPECT_EQ(message_flags(context(smtp)), "spf_eject");
  EXPECT_TRUE(logs.contains(
      LOG_NOTICE, "SPF fail: 198.51.100.9, mx.example.net, mx.example.net, <alice@pass.example>"));
}

TEST_F(envfrom_test, without_context_tempfails) {
  loaded_config config("");
  fake_milter::log_capture logs;
  fake_milter::session smtp(filter_description);
  EXPECT_EQ(answered_envfrom(smtp, {"<alice@pass.example>"}), SMFIS_TEMPFAIL);
  EXPECT_TRUE(logs.contains(LOG_CRIT, "smfi_getpriv failed!"));
}

// Several messages on one connection: each starts from the connection's own
// state, never from what an earlier message raised or earned.
TEST_F(envfrom_test, flagged_message_leaves_nothing_for_a_clean_one) {
  loaded_config config("spf eject\nhelocheck eject\nttl 0\n");
  fake_milter::session smtp(filter_description);
  open(smtp, "192.168.1.20", "198.51.100.9");
  ASSERT_EQ(answered_envfrom(smtp, {"<alice@pass.example>"}), SMFIS_CONTINUE);
  auto& ctx = context(smtp);
  EXPECT_EQ(message_flags(ctx), "helo_eject spf_eject");
  // What the later stages of the first message would have raised.
  ctx.harmful_eject = ctx.to_quarantine = ctx.dnsbl_header = 1;
  ctx.to_seen = ctx.cc_seen = 1;
  ctx.subject = strdup("first subject");
  ctx.message->recipients.push_back("bob@example.net");
  ctx.message->copy_header_added = true;

  smtp.helo("mx.example.net");
  ASSERT_EQ(answered_envfrom(smtp, {"<carol@example.org>"}), SMFIS_CONTINUE);
  EXPECT_EQ(message_flags(ctx), "");
  EXPECT_EQ(ctx.subject, nullptr);
  EXPECT_EQ(ctx.to_seen, 0u);
  EXPECT_EQ(ctx.cc_seen, 0u);
  EXPECT_EQ(ctx.spf_result, 5);
  EXPECT_TRUE(ctx.message->recipients.empty());
  EXPECT_FALSE(ctx.message->copy_header_added);
  EXPECT_FALSE(exempt(ctx));
}

TEST_F(envfrom_test, sender_and_macro_exemptions_last_one_message) {
  loaded_config config("whitelistfrom friend.example\n");
  fake_milter::session smtp(filter_description);
  open(smtp);
  answered_envfrom(smtp, {"<a@friend.example>"});
  EXPECT_EQ(exempt(context(smtp)), 1);
  answered_envfrom(smtp, {"<spam@other.example>"});
  EXPECT_EQ(exempt(context(smtp)), 0) << "a whitelisted sender does not exempt the next";
  smtp.macros["{auth_authen}"] = "alice";
  answered_envfrom(smtp, {"<spam@other.example>"});
  EXPECT_EQ(exempt(context(smtp)), 1);
  smtp.macros.erase("{auth_authen}");
  answered_envfrom(smtp, {"<localpart>"});
  EXPECT_EQ(exempt(context(smtp)), 0) << "nor does an authenticated one";
}

TEST_F(envfrom_test, unextractable_sender_after_a_tagged_message_starts_clean) {
  loaded_config config("spf header\nttl 0\n");
  fake_milter::log_capture logs;
  fake_milter::session smtp(filter_description);
  open(smtp, "mx.example.net", "198.51.100.9");
  answered_envfrom(smtp, {"<alice@pass.example>"});
  auto& ctx = context(smtp);
  EXPECT_EQ(ctx.spf_result, 3);
  ctx.subject = strdup("[SPAM] first");
  logs.clear();
  EXPECT_EQ(answered_envfrom(smtp, {"<localpart>"}), SMFIS_CONTINUE);
  EXPECT_EQ(ctx.subject, nullptr);
  EXPECT_EQ(ctx.spf_result, 5);
  EXPECT_EQ(message_flags(ctx), "");
  EXPECT_STREQ(ctx.sender_addr, "");
  EXPECT_STREQ(ctx.spf_cache_key, "");
  EXPECT_TRUE(logs.contains(LOG_INFO,
                            "sender address unusable, no SPF check: 198.51.100.9, "
                            "mx.example.net, <localpart>"));
}

TEST_F(envfrom_test, connect_decisions_stay_for_every_message) {
  struct stay_case {
    const char* config;
    const char* host;
    uint8_t exempt;
    uint8_t ddns_eject;
  };
  const stay_case cases[] = {
      {"whitelistip 192.0.2.0/24\n", "mx.example.net", 1, 0},
      {"whitelistptr example.net\n", "mx.example.net", 1, 0},
      {"ddns eject\n", "dhcp-12-34.example.net", 0, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.config);
    loaded_config config(c.config);
    fake_milter::session smtp(filter_description);
    open(smtp, "mx.example.net", "192.0.2.7", c.host);
    for (const char* from : {"<a@pass.example>", "<localpart>", "<b@other.example>"}) {
      SCOPED_TRACE(from);
      answered_envfrom(smtp, {from});
      EXPECT_EQ(exempt(context(smtp)), c.exempt);
      EXPECT_EQ(context(smtp).ddns_eject, c.ddns_eject);
      smtp.abort();
    }
  }
}

TEST_F(envfrom_test, abort_then_new_message_has_a_fresh_record) {
  loaded_config config("");
  fake_milter::session smtp(filter_description);
  open(smtp);
  answered_envfrom(smtp, {"<a@pass.example>"});
  context(smtp).message->recipients.push_back("bob@example.net");
  context(smtp).message->copy_header_added = true;
  EXPECT_EQ(smtp.abort(), SMFIS_ACCEPT);
  EXPECT_EQ(context(smtp).message, nullptr);
  answered_envfrom(smtp, {"<c@pass.example>"});
  ASSERT_NE(context(smtp).message, nullptr);
  EXPECT_TRUE(context(smtp).message->recipients.empty());
  EXPECT_FALSE(context(smtp).message->copy_header_added);
  EXPECT_EQ(context(smtp).message->sender, "<c@pass.example>");
}

// Both answers are taken together; the blocklist's line comes first.
namespace {
int listing_resolver(const char* /*name*/, addrinfo** answers) {
  *answers = offline_answers::ipv4_answer("127.0.0.2");
  return 0;
}
}  // namespace

TEST_F(envfrom_test, blocklist_and_spf_answers_are_logged_in_order) {
  loaded_config config("dnsbldou bl.example\ndnsblserv header\nspf header\n");
  spf_dns_maker previous_maker = set_spf_dns_maker(offline_answers::make_zone_dns);
  dnsbl_resolver previous_resolver =
      set_dnsbl_resolver({listing_resolver, offline_answers::release_answers});
  fake_milter::log_capture logs;
  fake_milter::session smtp(filter_description);
  open(smtp);
  EXPECT_EQ(answered_envfrom(smtp, {"<alice@pass.example>"}), SMFIS_CONTINUE);
  set_dnsbl_resolver(previous_resolver);
  set_spf_dns_maker(previous_maker);

  EXPECT_EQ(message_flags(context(smtp)), "dnsbl_header");
  EXPECT_EQ(context(smtp).spf_result, 2);
  std::vector<std::string> texts = logs.texts();
  ASSERT_EQ(texts.size(), 2u);
  EXPECT_EQ(texts[0].rfind("DNSBL: ", 0), 0u) << "log lines keep their order";
  EXPECT_EQ(texts[1].rfind("SPF pass: ", 0), 0u);
}
