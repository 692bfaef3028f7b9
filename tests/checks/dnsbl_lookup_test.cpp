// The DNS blocklist lookup: query names for IPv4 and IPv6 clients, and which
// resolver answers count as a listing.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cstdlib>
#include <netdb.h>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <vector>

#include "checks/dnsbl_lookup.hpp"
#include "connection/connection_context.hpp"
#include "support/scripted_dnsbl.hpp"

namespace {

connection_context ipv4_client(const char* address) {
  connection_context context{};
  context.client_ip = inet_addr(address);
  return context;
}

connection_context ipv6_client(const char* address) {
  connection_context context{};
  context.client_is_ipv6 = 1;
  EXPECT_EQ(inet_pton(AF_INET6, address, context.client_ipv6), 1);
  return context;
}

std::string query_name(const connection_context& context, const char* zone) {
  char name[256];
  if (!dnsbl_query_name(context, zone, name, sizeof name)) return "<none>";
  return name;
}

// A fake resolver: answers every name with the addresses in `answer_texts`
// (empty: no such name) and remembers what it was asked.
std::vector<std::string> answer_texts;
std::vector<std::string> asked;

int fake_resolve(const char* name, addrinfo** answers) {
  asked.emplace_back(name);
  *answers = nullptr;
  if (answer_texts.empty()) return EAI_NONAME;
  addrinfo** link = answers;
  for (const auto& text : answer_texts) {
    auto* answer = static_cast<addrinfo*>(std::calloc(1, sizeof(addrinfo)));
    auto* storage = static_cast<sockaddr_storage*>(std::calloc(1, sizeof(sockaddr_storage)));
    if (text.find(':') != std::string::npos) {
      auto* v6 = reinterpret_cast<sockaddr_in6*>(storage);
      v6->sin6_family = AF_INET6;
      inet_pton(AF_INET6, text.c_str(), &v6->sin6_addr);
      answer->ai_family = AF_INET6;
    } else {
      auto* v4 = reinterpret_cast<sockaddr_in*>(storage);
      v4->sin_family = AF_INET;
      inet_pton(AF_INET, text.c_str(), &v4->sin_addr);
      answer->ai_family = AF_INET;
    }
    answer->ai_addr = reinterpret_cast<sockaddr*>(storage);
    *link = answer;
    link = &answer->ai_next;
  }
  return 0;
}

void fake_release(addrinfo* answers) {
  while (answers != nullptr) {
    addrinfo* next = answers->ai_next;
    std::free(answers->ai_addr);
    std::free(answers);
    answers = next;
  }
}

class dnsbl_listed_test : public ::testing::Test {
 protected:
  void SetUp() override {
    asked.clear();
    answer_texts.clear();
    previous_ = set_dnsbl_resolver({fake_resolve, fake_release});
  }
  void TearDown() override { set_dnsbl_resolver(previous_); }

 private:
  dnsbl_resolver previous_{};
};

}  // namespace

TEST(dnsbl_query_name, reverses_the_client_address_before_the_zone) {
  struct name_case {
    connection_context context;
    const char* zone;
    const char* want;
  };
  const name_case cases[] = {
      {ipv4_client("192.0.2.7"), "bl.example", "7.2.0.192.bl.example."},
      {ipv4_client("127.0.0.1"), "bl.example", "1.0.0.127.bl.example."},
      {ipv4_client("10.200.0.255"), "bl.example.", "255.0.200.10.bl.example.."},
      {ipv6_client("2001:db8::1"), "bl.example",
       "1.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.8.b.d.0.1.0.0.2.bl.example."},
      {ipv6_client("2001:DB8:abcd:12::ff00"), "zen.example",
       "0.0.f.f.0.0.0.0.0.0.0.0.0.0.0.0.2.1.0.0.d.c.b.a.8.b.d.0.1.0.0.2.zen.example."},
  };
  for (const auto& c : cases) EXPECT_EQ(query_name(c.context, c.zone), c.want);
}

TEST(dnsbl_query_name, refuses_names_that_do_not_fit) {
  std::string zone(250, 'z');
  EXPECT_EQ(query_name(ipv4_client("192.0.2.7"), zone.c_str()), "<none>");
  EXPECT_EQ(query_name(ipv6_client("2001:db8::1"), std::string(200, 'z').c_str()), "<none>");
  EXPECT_EQ(query_name(ipv4_client("192.0.2.7"), nullptr), "<none>");
  // The longest name that fits is still built whole.
  std::string fits(255 - 10 - 1, 'z');
  EXPECT_EQ(query_name(ipv4_client("192.0.2.7"), fits.c_str()), "7.2.0.192." + fits + ".");
}

TEST_F(dnsbl_listed_test, answers_list_the_client_unless_all_are_error_codes) {
  struct answer_case {
    std::vector<std::string> answers;
    bool listed;
  };
  const answer_case cases[] = {
      {{}, false},            // no such name
      {{"127.0.0.2"}, true},  // the usual listing
      {{"127.0.0.10", "127.0.0.4"}, true},
      {{"::1"}, true},               // an IPv6-only answer still lists
      {{"127.255.255.254"}, false},  // refused: public resolver
      {{"127.255.255.252", "127.255.255.255"}, false},
      {{"127.255.255.254", "127.0.0.2"}, true},  // a real code beside an error
      {{"127.255.254.1"}, true},                 // just outside the error range
  };
  for (const auto& c : cases) {
    answer_texts = c.answers;
    EXPECT_EQ(dnsbl_listed(ipv4_client("192.0.2.7"), "bl.example"), c.listed)
        << ::testing::PrintToString(c.answers);
  }
  ASSERT_FALSE(asked.empty());
  EXPECT_EQ(asked.front(), "7.2.0.192.bl.example.");
}

TEST_F(dnsbl_listed_test, name_too_long_is_never_asked) {
  answer_texts = {"127.0.0.2"};
  EXPECT_FALSE(dnsbl_listed(ipv4_client("192.0.2.7"), std::string(300, 'z').c_str()));
  EXPECT_TRUE(asked.empty());
}

TEST_F(dnsbl_listed_test, ipv6_client_is_asked_in_nibble_form) {
  answer_texts = {"127.0.0.2"};
  EXPECT_TRUE(dnsbl_listed(ipv6_client("2001:db8::1"), "bl.example"));
  ASSERT_EQ(asked.size(), 1U);
  EXPECT_EQ(asked[0],
            "1.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.8.b.d.0.1.0.0.2.bl.example.");
}
