// The SPF evaluator, case by case from RFC 7208: macro expansion (7.4's
// examples), record syntax, the limits, DNS failures and what is asked
// together. The whole public suite runs in rfc7208_suite_test.cpp.
#include <gtest/gtest.h>

#include <algorithm>

#include "spf/check_host.hpp"
#include "spf/spf_macro.hpp"
#include "spf/spf_record.hpp"
#include "spf/spf_result.hpp"
#include "spf/zone_dns.hpp"

namespace {

macro_values example_values(const std::string& client) {
  macro_values values;
  values.sender = "strong-bad@email.example.com";
  values.local_part = "strong-bad";
  values.sender_domain = "email.example.com";
  values.domain = "email.example.com";
  values.client_v6 = client.find(':') != std::string::npos;
  values.client_dotted =
      values.client_v6 ? "2.0.0.1.0.d.b.8.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.c.b.0.1" : client;
  values.helo = "mx.example.org";
  return values;
}

std::string expanded(const std::string& spec, const std::string& client = "192.0.2.3") {
  uint32_t letters = 0;
  return expand_macros(spec, example_values(client), letters);
}

spf_verdict evaluate(zone_dns& zone, const std::string& sender,
                     const std::string& client = "192.0.2.3") {
  spf_request request;
  EXPECT_TRUE(parse_ip_address(client, request.client));
  request.helo = "mx.example.org";
  request.sender = sender;
  return check_host(request, zone);
}

}  // namespace

TEST(spf_macro, expands_the_examples_of_the_rfc) {
  const std::pair<const char*, const char*> cases[] = {
      {"%{s}", "strong-bad@email.example.com"},
      {"%{o}", "email.example.com"},
      {"%{d4}", "email.example.com"},
      {"%{d2}", "example.com"},
      {"%{d1}", "com"},
      {"%{dr}", "com.example.email"},
      {"%{d2r}", "example.email"},
      {"%{l-}", "strong.bad"},
      {"%{lr-}", "bad.strong"},
      {"%{l1r-}", "strong"},
      {"%{ir}.%{v}._spf.%{d2}", "3.2.0.192.in-addr._spf.example.com"},
      {"%{lr-}.lp._spf.%{d2}", "bad.strong.lp._spf.example.com"},
      {"%{l}%%%_%-x.%{d}", "strong-bad% %20x.email.example.com"},
      {"%{S}.example.org", "strong-bad%40email.example.com.example.org"},
  };
  for (const auto& [spec, want] : cases) EXPECT_EQ(expanded(spec), want) << spec;
  EXPECT_EQ(expanded("%{ir}.%{v}._spf.%{d2}", "2001:db8::cb01"),
            "1.0.b.c.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.8.b.d.0.1.0.0.2.ip6._spf.example.com");
}

TEST(spf_macro, a_long_expansion_loses_labels_on_the_left) {
  macro_values values = example_values("192.0.2.3");
  values.local_part = std::string(60, 'x') + '.' + std::string(60, 'y') + '.' +
                      std::string(60, 'z') + '.' + std::string(60, 'w');
  uint32_t letters = 0;
  std::string name = expand_macros("%{l}.example.com", values, letters);
  EXPECT_EQ(name, std::string(60, 'y') + '.' + std::string(60, 'z') + '.' + std::string(60, 'w') +
                      ".example.com");
  EXPECT_EQ(letters, macro_bit('l'));
}

TEST(spf_record, syntax_table) {
  const std::pair<const char*, bool> cases[] = {
      {"v=spf1 a/0 mx//0 ip4:0.0.0.0/0 ip6:::/0 -all", true},
      {"v=spf1 a:example.com/24//64 mx:example.com//0", true},
      {"v=spf1 foo.bar-baz_1=x%{d} -all", true},
      {"v=spf1 ip4:192.0.2.0/032", false},
      {"v=spf1 exp=a.example.com exp=b.example.com", false},
      {"v=spf1 redirect=a.example.com redirect=b.example.com", false},
      {"v=spf1 redirect:a.example.com", false},
      {"v=spf1 exists:%{i}.example.com/24", false},
      {"v=spf1 a:%{x}.example.com", false},
      {"v=spf1 a:%{l0}.example.com", false},
      {"v=spf1 include:", false},
      {"v=spf1 a:example.123", false},
      {"v=spf1 a:example", false},
      {"v=spf1 -all\tx", false},
      {"v=spf1 mx:ex\x01"
       "ample.com",
       false},
      {"v=spf1 +ALL", true},
  };
  for (const auto& [text, valid] : cases) {
    spf_record record;
    std::string problem;
    EXPECT_EQ(parse_spf_record(text, record, problem), valid) << text << ": " << problem;
  }
  EXPECT_TRUE(is_spf_record("V=SPF1"));
  EXPECT_FALSE(is_spf_record("v=spf10 -all"));
}

TEST(check_host, limits_count_across_includes) {
  zone_dns zone;
  std::string chain = "v=spf1";
  for (int i = 0; i < 10; ++i) chain += " a:a" + std::to_string(i) + ".example.com";
  zone.add_txt("ten.example.com", chain + " -all");
  zone.add_txt("nine.example.com", "v=spf1 include:ten.example.com -all");
  for (int i = 0; i < 10; ++i)
    zone.add_address("a" + std::to_string(i) + ".example.com", "10.0.0.1");
  EXPECT_EQ(evaluate(zone, "x@ten.example.com").result, spf_code::fail);
  EXPECT_EQ(evaluate(zone, "x@nine.example.com").result, spf_code::permerror);

  zone.add_txt("voids.example.com",
               "v=spf1 a:n1.example.com a:n2.example.com a:n3.example.com -all");
  spf_verdict voids = evaluate(zone, "x@voids.example.com");
  EXPECT_EQ(voids.result, spf_code::permerror);
  EXPECT_EQ(voids.problem, "more than 2 void lookups");
}

TEST(check_host, a_dns_failure_is_a_temperror_and_an_unusable_domain_none) {
  zone_dns zone;
  zone.time_out("slow.example.com");
  zone.add_txt("uses.example.com", "v=spf1 mx:slow.example.com -all");
  EXPECT_EQ(evaluate(zone, "x@slow.example.com").result, spf_code::temperror);
  EXPECT_EQ(evaluate(zone, "x@uses.example.com").result, spf_code::temperror);
  EXPECT_EQ(evaluate(zone, "x@" + std::string(64, 'a') + ".example.com").result, spf_code::none);
  EXPECT_EQ(evaluate(zone, "x@localhost").result, spf_code::none);
}

TEST(check_host, mapped_client_is_ipv4_and_null_sender_uses_helo) {
  zone_dns zone;
  zone.add_txt("example.org", "v=spf1 ip4:192.0.2.0/24 -all");
  zone.add_txt("mx.example.org", "v=spf1 ip4:192.0.2.3 -all");
  EXPECT_EQ(evaluate(zone, "x@example.org", "::ffff:192.0.2.9").result, spf_code::pass);
  EXPECT_EQ(evaluate(zone, "x@example.org", "2001:db8::1").result, spf_code::fail);
  EXPECT_EQ(evaluate(zone, "").result, spf_code::pass);
}

TEST(check_host, reports_the_macro_letters_it_expanded) {
  zone_dns zone;
  zone.add_txt("example.org", "v=spf1 ip4:192.0.2.3 exists:%{l}.allow.example.org -all");
  zone.add_address("good.allow.example.org", "127.0.0.2");
  EXPECT_EQ(evaluate(zone, "good@example.org", "192.0.2.9").result, spf_code::pass);
  EXPECT_EQ(evaluate(zone, "bad@example.org", "192.0.2.9").result, spf_code::fail);
  spf_verdict before_exists = evaluate(zone, "bad@example.org", "192.0.2.3");
  EXPECT_EQ(before_exists.result, spf_code::pass);
  EXPECT_EQ(before_exists.macro_letters & macro_bit('l'), 0U);
  EXPECT_NE(evaluate(zone, "bad@example.org", "192.0.2.9").macro_letters & macro_bit('l'), 0U);
}

TEST(check_host, independent_questions_of_a_record_are_asked_together) {
  zone_dns zone;
  zone.add_txt("example.org", "v=spf1 include:other.example.net mx -all");
  zone.add_txt("other.example.net", "v=spf1 ip4:198.51.100.1 -all");
  zone.add_mx("example.org", "mx1.example.org");
  zone.add_mx("example.org", "mx2.example.org");
  zone.add_address("mx2.example.org", "192.0.2.3");
  EXPECT_EQ(evaluate(zone, "x@example.org").result, spf_code::pass);
  // Round trips: the record; the include's record and the MX names; the
  // exchanges' addresses.
  auto ahead = [&](const std::string& name, dns_type type) {
    return std::find(zone.asked_ahead.begin(), zone.asked_ahead.end(),
                     std::make_pair(name, type)) != zone.asked_ahead.end();
  };
  EXPECT_TRUE(ahead("other.example.net", dns_type::txt));
  EXPECT_TRUE(ahead("example.org", dns_type::mx));
  EXPECT_TRUE(ahead("mx1.example.org", dns_type::a));
  EXPECT_TRUE(ahead("mx2.example.org", dns_type::a));
}
