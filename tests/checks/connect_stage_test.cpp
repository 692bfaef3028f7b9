// teslo_connect and teslo_helo through the fake libmilter: client identity
// (IPv4, IPv4-mapped, IPv6, none), the client lists and the DDNS check.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cstring>
#include <string>
#include <syslog.h>

#include "filter/filter_description.hpp"
#include "fake_milter/fake_milter.hpp"
#include "fake_milter/log_capture.hpp"
#include "connection/connection_context.hpp"
#include "spamconfig/config_file.hpp"

namespace {

struct connect_case {
  const char* name;
  const char* config;
  const char* host;
  const char* address;  // nullptr: the MTA gives no address
  sfsistat want;
  uint8_t exempt = 0;
  uint8_t ddns_header = 0, ddns_eject = 0, ddns_quarantine = 0;
};

}  // namespace

TEST(teslo_connect, applies_client_lists_and_ddns_patterns) {
  const connect_case cases[] = {
      {"whitelisted and blacklisted is refused",
       "whitelistip 192.0.2.0/24\nblacklistptr example.net\n", "mx.example.net", "192.0.2.7",
       SMFIS_REJECT},
      {"whitelistptr alone exempts", "whitelistptr .example.net\n", "mx.Example.NET", "192.0.2.7",
       SMFIS_CONTINUE, 1},
      {"whitelistip exempts", "whitelistip 192.0.2.0/24\n", "mx.example.net", "192.0.2.7",
       SMFIS_CONTINUE, 1},
      {"whitelistip of another net", "whitelistip 192.0.3.0/24\n", "mx.example.net", "192.0.2.7",
       SMFIS_CONTINUE, 0},
      {"blacklistip refuses", "blacklistip 192.0.2.7\n", "mx.example.net", "192.0.2.7",
       SMFIS_REJECT},
      {"blacklistptr suffix across labels", "blacklistptr example.net\n", "mx.badexample.net",
       "192.0.2.7", SMFIS_REJECT},
      {"ddns eject", "ddns eject\n", "dhcp-12-34.example.net", "192.0.2.7", SMFIS_CONTINUE, 0, 0, 1,
       0},
      {"ddns header", "ddns header\n", "host12345.example.net", "192.0.2.7", SMFIS_CONTINUE, 0, 1,
       0, 0},
      {"ddns quarantine, whitelisted too", "ddns quarantine\nwhitelistptr example.net\n",
       "ppp1.example.net", "192.0.2.7", SMFIS_CONTINUE, 1, 0, 0, 1},
      {"ddns off runs no pattern", "ddns off\n", "dhcp-12-34.example.net", "192.0.2.7",
       SMFIS_CONTINUE},
      {"ddns on a clean name", "ddns eject\n", "mx.example.net", "192.0.2.7", SMFIS_CONTINUE},
      {"address literal as host name, unchanged", "ddns header\nwhitelistptr .2.7]\n",
       "[192.0.2.7]", "192.0.2.7", SMFIS_CONTINUE, 1, 0, 0, 0},
      {"IPv6 address literal is no dynamic host name", "ddns eject\n", "[IPv6:2001:db8::25]",
       "2001:db8::25", SMFIS_CONTINUE},
      {"no address: prefix 0 matches", "blacklistip 10.0.0.0/0\n", "mx.example.net", nullptr,
       SMFIS_REJECT},
      {"no address: all-ones entry matches", "blacklistip 255.255.255.0/24\n", "mx.example.net",
       nullptr, SMFIS_REJECT},
      {"no address: loopback entry does not", "blacklistip 127.0.0.1\n", "mx.example.net", nullptr,
       SMFIS_CONTINUE},
      {"IPv4-mapped client is IPv4", "blacklistip 192.0.2.7\n", "mx.example.net",
       "::ffff:192.0.2.7", SMFIS_REJECT},
      {"IPv6 client: no IPv4 list matches", "blacklistip 0.0.0.0/0\nwhitelistip 0.0.0.0/0\n",
       "mx.example.net", "2001:db8::25", SMFIS_CONTINUE, 0},
      {"IPv6 client: name lists apply", "blacklistptr example.net\n", "mx.example.net",
       "2001:db8::25", SMFIS_REJECT},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    loaded_config config(c.config);
    fake_milter::log_capture logs;
    fake_milter::session smtp(filter_description);
    EXPECT_EQ(smtp.connect(c.host, c.address), c.want);
    EXPECT_TRUE(smtp.changes.empty()) << "no reply text is set";
    EXPECT_TRUE(logs.lines().empty());
    auto* context = smtp.context<connection_context>();
    if (c.want == SMFIS_REJECT) {
      EXPECT_EQ(context, nullptr);
      continue;
    }
    ASSERT_NE(context, nullptr);
    EXPECT_EQ(context->client_exempt, c.exempt);
    EXPECT_EQ(context->ddns_header, c.ddns_header);
    EXPECT_EQ(context->ddns_eject, c.ddns_eject);
    EXPECT_EQ(context->ddns_quarantine, c.ddns_quarantine);
    EXPECT_STREQ(context->helo_name, "unknown");
    EXPECT_EQ(context->message, nullptr);
  }
}

TEST(teslo_connect, records_the_client_address_by_family) {
  struct address_case {
    const char* address;
    const char* text;
    const char* ipv4;  // client_ip as dotted text
    uint8_t ipv6;
  };
  const address_case cases[] = {
      {"192.0.2.7", "192.0.2.7", "192.0.2.7", 0},
      {"::ffff:198.51.100.4", "198.51.100.4", "198.51.100.4", 0},
      {"2001:db8::25", "2001:db8::25", "0.0.0.0", 1},
      {"2001:0db8:0000:0000:0000:0000:0000:0001", "2001:db8::1", "0.0.0.0", 1},
      {nullptr, "undefined", "127.0.0.1", 0},
  };
  loaded_config config("");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    fake_milter::session smtp(filter_description);
    ASSERT_EQ(smtp.connect("mx.example.net", c.address), SMFIS_CONTINUE);
    auto* context = smtp.context<connection_context>();
    EXPECT_STREQ(context->client_addr, c.text);
    EXPECT_EQ(context->client_ip, inet_addr(c.ipv4));
    EXPECT_EQ(context->client_is_ipv6, c.ipv6);
    if (c.ipv6) {
      unsigned char want[16];
      ASSERT_EQ(inet_pton(AF_INET6, c.address, want), 1);
      EXPECT_EQ(std::memcmp(context->client_ipv6, want, 16), 0);
    }
  }
}

TEST(teslo_connect, long_host_name_is_cut_and_setpriv_failure_tempfails) {
  loaded_config config("");
  {
    fake_milter::session smtp(filter_description);
    std::string host(300, 'h');
    ASSERT_EQ(smtp.connect(host.c_str(), "192.0.2.7"), SMFIS_CONTINUE);
    EXPECT_EQ(std::string(smtp.context<connection_context>()->client_name), host.substr(0, 127));
  }
  fake_milter::log_capture logs;
  fake_milter::session smtp(filter_description);
  smtp.failing.insert("smfi_setpriv");
  EXPECT_EQ(smtp.connect("mx.example.net", "192.0.2.7"), SMFIS_TEMPFAIL);
  EXPECT_TRUE(logs.contains(LOG_CRIT, "smfi_setpriv failed!"));
  EXPECT_EQ(smtp.close(), SMFIS_ACCEPT);
}

TEST(teslo_helo, keeps_the_latest_name_up_to_127_characters) {
  loaded_config config("");
  fake_milter::session smtp(filter_description);
  smtp.connect("mx.example.net", "192.0.2.7");
  EXPECT_EQ(smtp.helo("first.example"), SMFIS_CONTINUE);
  EXPECT_STREQ(smtp.context<connection_context>()->helo_name, "first.example");
  std::string long_name(300, 'n');
  EXPECT_EQ(smtp.helo(long_name.c_str()), SMFIS_CONTINUE);
  EXPECT_EQ(std::string(smtp.context<connection_context>()->helo_name), long_name.substr(0, 127));
}
