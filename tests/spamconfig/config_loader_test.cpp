// Loading the spam-check file: defaults, keys, action words, lists, time
// values, and physical lines longer than the line buffer.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cerrno>
#include <climits>
#include <string>
#include <syslog.h>
#include <vector>

#include "spamconfig/builtin_patterns.hpp"
#include "spamconfig/config_file.hpp"
#include "spamconfig/config_loader.hpp"
#include "spamconfig/harmful_extensions.hpp"
#include "spamconfig/list_queries.hpp"
#include "spamconfig/test_settings.hpp"

namespace {

std::vector<std::string> texts(const pattern_entry* list) {
  std::vector<std::string> result;
  for (; list != nullptr; list = list->next) result.emplace_back(list->text);
  return result;
}

std::size_t count(const ip_mask_entry* list) {
  std::size_t n = 0;
  for (; list != nullptr; list = list->next) ++n;
  return n;
}

bool blacklisted(const char* address) {
  return ip_list_match(spam_config.blacklistip, spam_config.blacklistip_index, inet_addr(address));
}

}  // namespace

TEST(load_spam_config, missing_file_keeps_every_default) {
  compile_builtin_patterns();
  free_spam_config(spam_config);
  EXPECT_FALSE(load_test_settings("./no-such-dir/orvane.conf"));
  EXPECT_STREQ(spam_config.tag, "[SPAM]");
  EXPECT_STREQ(spam_config.quarantinebox, "postmaster");
  EXPECT_STREQ(spam_config.dnsbl_domain, "zen.spamhaus.org");
  EXPECT_STREQ(spam_config.user, "teslo");
  EXPECT_STREQ(spam_config.socket, "unix:/var/lomb/lomb-vesk.sock");
  EXPECT_EQ(spam_config.socketgroup, nullptr);
  EXPECT_EQ(spam_config.metricsfile, nullptr);
  EXPECT_STREQ(spam_config.disposition_pattern, default_disposition_pattern_text);
  EXPECT_EQ(spam_config.refusefail, 1);
  EXPECT_EQ(spam_config.tagsubject, 1);
  EXPECT_EQ(spam_config.addheader, 1);
  EXPECT_EQ(spam_config.quarantine, 0);
  EXPECT_EQ(spam_config.syslog_facility, LOG_MAIL);
  for (check_action action : {spam_config.helocheck, spam_config.tocheck, spam_config.ddns,
                              spam_config.disposition, spam_config.dnsblserv, spam_config.spf}) {
    EXPECT_EQ(action, ACTION_OFF);
  }
  EXPECT_EQ(spam_config.ttl, 36000);
  EXPECT_EQ(spam_config.spfcachesize, 1000000);
  EXPECT_EQ(spam_config.whitelistip, nullptr);
  EXPECT_EQ(spam_config.whitelistto, nullptr);
  free_spam_config(spam_config);
  EXPECT_EQ(spam_config.tag, nullptr);
}

TEST(load_spam_config, file_that_opens_but_cannot_be_read_gives_the_defaults) {
  // A directory opens for reading; the first read fails.
  spam_config_load loaded = load_spam_config(".");
  EXPECT_FALSE(loaded.file_read);
  EXPECT_EQ(loaded.error, EISDIR);
  ASSERT_NE(loaded.settings, nullptr);
  EXPECT_STREQ(loaded.settings->tag, "[SPAM]");
  EXPECT_EQ(loaded.settings->ttl, 36000);
}

TEST(load_spam_config, settings_follow_the_file) {
  struct setting_case {
    const char* file;
    int32_t (*field)();
    int32_t want;
  };
  const setting_case cases[] = {
      {"SPF Eject\n", [] { return int32_t{spam_config.spf}; }, ACTION_EJECT},
      {"DDNS quarantine\n", [] { return int32_t{spam_config.ddns}; }, ACTION_QUARANTINE},
      {"helocheck HEADER\n", [] { return int32_t{spam_config.helocheck}; }, ACTION_HEADER},
      {"dnsblserv eject\n", [] { return int32_t{spam_config.dnsblserv}; }, ACTION_EJECT},
      {"disposition quarantine\n", [] { return int32_t{spam_config.disposition}; }, 3},
      {"tocheck header\nother line\ntocheck off\n", [] { return int32_t{spam_config.tocheck}; }, 0},
      {"spf reject\n", [] { return int32_t{spam_config.spf}; }, ACTION_OFF},
      {"spf eject # comment\n", [] { return int32_t{spam_config.spf}; }, ACTION_EJECT},
      {"# spf eject\n", [] { return int32_t{spam_config.spf}; }, ACTION_OFF},
      {"spf\n", [] { return int32_t{spam_config.spf}; }, ACTION_OFF},
      {"spf#eject\n", [] { return int32_t{spam_config.spf}; }, ACTION_OFF},
      {"  spf\teject  \r\n", [] { return int32_t{spam_config.spf}; }, ACTION_EJECT},
      {"refusefail on\n", [] { return spam_config.refusefail; }, 1},
      {"refusefail off\n", [] { return spam_config.refusefail; }, 0},
      {"refusefail OFF\n", [] { return spam_config.refusefail; }, 1},
      {"tagsubject off\n", [] { return spam_config.tagsubject; }, 0},
      {"addheader off\n", [] { return spam_config.addheader; }, 0},
      {"quarantine off\n", [] { return spam_config.quarantine; }, 0},
      {"quarantine on\n", [] { return spam_config.quarantine; }, 1},
      {"syslog LOCAL3\n", [] { return spam_config.syslog_facility; }, LOG_LOCAL3},
      {"syslog local7\n", [] { return spam_config.syslog_facility; }, 184},
      {"syslog daemon\n", [] { return spam_config.syslog_facility; }, LOG_DAEMON},
      {"syslog kern\n", [] { return spam_config.syslog_facility; }, LOG_MAIL},
      {"ttl 30m\n", [] { return spam_config.ttl; }, 1800},
      {"ttl 2d\n", [] { return spam_config.ttl; }, 172800},
      {"TTL 1H\n", [] { return spam_config.ttl; }, 3600},
      {"ttl 45\n", [] { return spam_config.ttl; }, 45},
      {"ttl 0\n", [] { return spam_config.ttl; }, 0},
      {"SpfCacheSize 5000\n", [] { return spam_config.spfcachesize; }, 5000},
      {"spfcachesize 2147483647\n", [] { return spam_config.spfcachesize; }, INT32_MAX},
      {"spfcachesize 2147483648\n", [] { return spam_config.spfcachesize; }, 1000000},
      {"spfcachesize 0\n", [] { return spam_config.spfcachesize; }, 1000000},
      {"spfcachesize 10k\n", [] { return spam_config.spfcachesize; }, 1000000},
      {"spfcachesize -5\n", [] { return spam_config.spfcachesize; }, 1000000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    loaded_config config(c.file);
    ASSERT_TRUE(config.loaded());
    EXPECT_EQ(c.field(), c.want);
  }
}

TEST(load_spam_config, texts_take_the_first_token_and_later_lines_win) {
  loaded_config config(
      "tag [JUNK] more words\n"
      "dnsbldou bl.example\n"
      "dnsbldou bl2.example\n"
      "quarantinebox spam\nuser milter\nsocket inet:1234\n"
      "SocketGroup mail\nsocketgroup postfix\n"
      "MetricsFile /a.prom\nmetricsfile /var/lib/prometheus/node-exporter/teslo.prom\n");
  EXPECT_STREQ(spam_config.tag, "[JUNK]");
  EXPECT_STREQ(spam_config.dnsbl_domain, "bl2.example");
  EXPECT_STREQ(spam_config.quarantinebox, "spam");
  EXPECT_STREQ(spam_config.user, "milter");
  EXPECT_STREQ(spam_config.socket, "inet:1234");
  EXPECT_STREQ(spam_config.socketgroup, "postfix");
  EXPECT_STREQ(spam_config.metricsfile, "/var/lib/prometheus/node-exporter/teslo.prom");
}

TEST(load_spam_config, harmful_extensions_take_the_rest_of_the_line) {
  struct row {
    std::string file;
    const char* list;
  };
  const row rows[] = {
      {"", default_harmful_extensions},
      {"HarmfulExt exe, .JS,iso  scr,exe # not these\n", "exe js iso scr"},
      {"harmfulext exe\nharmfulext com\n", "com"},
      {"harmfulext exe\nharmfulext exe,,js\n", "exe"},  // refused: the earlier one stays
      {"harmfulext .\n", default_harmful_extensions},
      {"harmfulext " + std::string(17, 'x') + "\n", default_harmful_extensions},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.file);
    loaded_config config(r.file);
    EXPECT_STREQ(spam_config.harmfulext, r.list);
  }
}

TEST(load_spam_config, token_longer_than_127_is_cut_there) {
  std::string tag(130, 'x');
  loaded_config config("tag " + tag + "\n");
  EXPECT_EQ(std::string(spam_config.tag), std::string(127, 'x'));
}

TEST(load_spam_config, name_lists_keep_or_lower_case) {
  loaded_config config(
      "whitelistptr .Example.Net\nblacklistptr Bad.Example\n"
      "whitelistfrom Example.COM\nwhitelistfrom b@x\nwhitelistto Boss@Example.com\n");
  EXPECT_EQ(texts(spam_config.whitelistptr), std::vector<std::string>{".Example.Net"});
  EXPECT_EQ(texts(spam_config.blacklistptr), std::vector<std::string>{"Bad.Example"});
  EXPECT_EQ(texts(spam_config.whitelistfrom), (std::vector<std::string>{"b@x", "example.com"}));
  EXPECT_EQ(texts(spam_config.whitelistto), std::vector<std::string>{"boss@example.com"});
}

TEST(load_spam_config, address_entries_are_validated) {
  struct entry_case {
    const char* value;
    bool stored;
    std::vector<const char*> matching;
    std::vector<const char*> not_matching;
  };
  const entry_case cases[] = {
      {"10.1.2.0/24", true, {"10.1.2.200", "10.1.2.0"}, {"10.1.3.1"}},
      {"10.1.2.3", true, {"10.1.2.3"}, {"10.1.2.4"}},
      {"10.1.2.3/0", true, {"1.2.3.4", "255.255.255.255"}, {}},
      {"10.1.2.3/99", true, {"10.1.2.3"}, {"10.1.2.2"}},
      {"10.1.2.3/-1", true, {"10.1.2.3"}, {"10.1.2.2"}},
      {"10.1.2.3/65536", true, {"10.1.2.3"}, {"192.0.2.1"}},
      {"10.1.2.3/99999999999999999999", true, {"10.1.2.3"}, {"192.0.2.1"}},
      {"10.0.0.0/8abc", true, {"10.200.0.1"}, {"11.0.0.1"}},
      {"255.255.255.255", false, {}, {}},
      {"1.2.3.256", false, {}, {}},
      {"host.example", false, {}, {}},
      {"/24", false, {}, {}},
      {"1.2.3", false, {}, {}},
      {"01.2.3.4x", false, {}, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value);
    loaded_config config(std::string("blacklistip ") + c.value + "\nwhitelistip " + c.value + "\n");
    EXPECT_EQ(count(spam_config.blacklistip), c.stored ? 1u : 0u);
    EXPECT_EQ(count(spam_config.whitelistip), c.stored ? 1u : 0u);
    for (const char* address : c.matching) EXPECT_TRUE(blacklisted(address)) << address;
    for (const char* address : c.not_matching) EXPECT_FALSE(blacklisted(address)) << address;
  }
}

TEST(load_spam_config, tail_of_an_overlong_line_is_not_a_directive) {
  // A comment whose tail, past the line buffer, reads like a directive.
  std::string comment = "# " + std::string(260, '-') + " blacklistip 0.0.0.0/0";
  std::string value_line = "tag " + std::string(300, 'y') + " spf eject";
  std::string exact = "dnsbldou " + std::string(254 - 9, 'z');  // 254 characters
  loaded_config config(comment + "\n" + value_line + "\n" + exact + "\nhelocheck header\n" +
                       std::string(400, ' ') + "ddns eject");
  ASSERT_TRUE(config.loaded());
  EXPECT_EQ(spam_config.blacklistip, nullptr);
  EXPECT_EQ(spam_config.spf, ACTION_OFF);
  EXPECT_EQ(std::string(spam_config.tag), std::string(127, 'y'));
  EXPECT_EQ(std::string(spam_config.dnsbl_domain), std::string(127, 'z'));
  EXPECT_EQ(spam_config.helocheck, ACTION_HEADER) << "the line after a long one is read";
  EXPECT_EQ(spam_config.ddns, ACTION_OFF) << "a directive past column 254 is skipped";
}

TEST(load_spam_config, last_line_without_newline_is_read) {
  loaded_config config("tag [A]\nspf header");
  EXPECT_EQ(spam_config.spf, ACTION_HEADER);
}

TEST(parse_time_value, units_and_plain_seconds) {
  struct time_case {
    const char* text;
    int32_t want;
  };
  const time_case cases[] = {
      {"30m", 1800},
      {"30M", 1800},
      {"2d", 172800},
      {"2D", 172800},
      {"1h", 3600},
      {"1H", 3600},
      {"45", 45},
      {"90s", 90},
      {"0", 0},
      {"m", 0},
      {"", 0},
      {"abc", 0},
      {"-5", -5},
      {"-2m", -120},
      {"10x", 10},
      {"2147483647", INT32_MAX},
      {"2147483648", INT32_MAX},
      {"24856d", INT32_MAX},
      {"24855d", 24855 * 86400},
      {"99999999999999999999999h", INT32_MAX},
      {"-99999999999d", INT32_MIN},
      {"4294967296", INT32_MAX},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(parse_time_value(c.text), c.want) << '"' << c.text << '"';
  }
}
