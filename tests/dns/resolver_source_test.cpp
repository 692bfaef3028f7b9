// The resolver source against a DNS server in the test process: questions
// asked ahead travel together, the deadline holds, a truncated answer goes
// to TCP, a failure answer is asked again, stray packets are left aside and
// a question is asked once per evaluation.
#include <gtest/gtest.h>

#include <arpa/nameser.h>

#include <chrono>
#include <string>
#include <thread>

#include "dns/dns_messages.hpp"
#include "dns/resolver_source.hpp"
#include "dns/test_dns_server.hpp"

namespace {

using namespace std::chrono_literals;
using clock_type = std::chrono::steady_clock;

ip_address ipv4(unsigned char last) {
  ip_address address;
  address.bytes[0] = 192;
  address.bytes[2] = 2;
  address.bytes[3] = last;
  return address;
}

TEST(resolver_source, questions_asked_ahead_are_sent_together) {
  // The server answers nothing before it has three names: asked one after
  // the other, the first would time out and the deadline would pass.
  test_dns_server server({.hold_until_names = 3});
  for (const char* name : {"one.example", "two.example", "three.example"}) {
    server.add(name, ns_t_a, dns_messages::a("192.0.2.1"));
  }
  test_resolver resolver(server.port(), 1, 1);
  resolver_source source(resolver.get(), clock_type::now() + 2s);
  source.ask_ahead("one.example", dns_type::a);
  source.ask_ahead("two.example", dns_type::a);
  source.ask_ahead("three.example", dns_type::a);
  for (const char* name : {"one.example", "two.example", "three.example"}) {
    dns_reply reply = source.lookup(name, dns_type::a);
    EXPECT_EQ(reply.status, dns_reply::found) << name;
    EXPECT_EQ(reply.addresses, std::vector<ip_address>{ipv4(1)}) << name;
  }
  EXPECT_EQ(server.all_queries(), 3);
}

TEST(resolver_source, silent_server_fails_by_the_deadline_and_later_questions_at_once) {
  // 1.5 s: the UDP try (1 s), then one more of its own; 2.5 s: the UDP try,
  // then res_nsend with its 3 tries lowered to the one that fits.
  for (auto allowed : {1500ms, 2500ms}) {
    test_dns_server server({.silent = true});
    test_resolver resolver(server.port(), 1, 3);
    auto deadline = clock_type::now() + allowed;
    resolver_source source(resolver.get(), deadline);
    EXPECT_EQ(source.lookup("a.example", dns_type::txt).status, dns_reply::failed);
    EXPECT_LE(clock_type::now(), deadline + 300ms) << allowed.count();
    std::this_thread::sleep_until(deadline);
    int asked = server.all_queries();
    auto started = clock_type::now();
    EXPECT_EQ(source.lookup("b.example", dns_type::txt).status, dns_reply::failed);
    EXPECT_LE(clock_type::now(), started + 100ms);
    EXPECT_EQ(server.all_queries(), asked);
  }
}

TEST(resolver_source, truncated_answer_is_asked_again_over_tcp) {
  test_dns_server server({.truncate_udp = true});
  // Over 512 bytes: it would not fit in a UDP answer anyway.
  const std::string half(250, 'x');
  server.add("a.example", ns_t_txt, dns_messages::txt({"v=spf1 ", half, half}));
  test_resolver resolver(server.port(), 1, 1);
  resolver_source source(resolver.get(), clock_type::now() + 3s);
  dns_reply reply = source.lookup("a.example", dns_type::txt);
  EXPECT_EQ(reply.status, dns_reply::found);
  EXPECT_EQ(reply.texts, std::vector<std::string>{"v=spf1 " + half + half});
  EXPECT_EQ(server.tcp_queries(), 1);
}

TEST(resolver_source, tcp_server_that_never_answers_fails_by_the_deadline) {
  test_dns_server server({.truncate_udp = true, .tcp_silent = true});
  test_resolver resolver(server.port(), 1, 1);
  auto deadline = clock_type::now() + 1s;
  resolver_source source(resolver.get(), deadline);
  EXPECT_EQ(source.lookup("a.example", dns_type::txt).status, dns_reply::failed);
  EXPECT_LE(clock_type::now(), deadline + 300ms);
  EXPECT_EQ(server.tcp_queries(), 1);
}

TEST(resolver_source, failure_answer_is_asked_again) {
  test_dns_server server({.servfail_first = 1});
  server.add("a.example", ns_t_mx, dns_messages::mx(10, dns_messages::name("mx.a.example")));
  test_resolver resolver(server.port(), 1, 1);
  resolver_source source(resolver.get(), clock_type::now() + 3s);
  dns_reply reply = source.lookup("a.example", dns_type::mx);
  EXPECT_EQ(reply.status, dns_reply::found);
  EXPECT_EQ(reply.names, std::vector<std::string>{"mx.a.example"});
  EXPECT_EQ(server.queries("a.example", ns_t_mx), 2);
}

TEST(resolver_source, stray_packets_are_left_aside) {
  test_dns_server server({.stray_first = true});
  server.add("a.example", ns_t_a, dns_messages::a("192.0.2.1"));
  test_resolver resolver(server.port(), 1, 1);
  resolver_source source(resolver.get(), clock_type::now() + 3s);
  source.ask_ahead("a.example", dns_type::a);
  dns_reply reply = source.lookup("a.example", dns_type::a);
  EXPECT_EQ(reply.status, dns_reply::found);
  EXPECT_EQ(reply.addresses, std::vector<ip_address>{ipv4(1)});
  EXPECT_EQ(server.all_queries(), 1);
}

TEST(resolver_source, each_question_is_asked_once) {
  test_dns_server server;
  server.add("a.example", ns_t_txt, dns_messages::txt({"v=spf1 -all"}));
  test_resolver resolver(server.port(), 1, 1);
  resolver_source source(resolver.get(), clock_type::now() + 3s);
  source.ask_ahead("a.example", dns_type::txt);
  source.ask_ahead("A.Example.", dns_type::txt);
  EXPECT_EQ(source.lookup("a.example", dns_type::txt).texts,
            std::vector<std::string>{"v=spf1 -all"});
  EXPECT_EQ(source.lookup("a.EXAMPLE", dns_type::txt).texts,
            std::vector<std::string>{"v=spf1 -all"});
  EXPECT_EQ(source.lookup("missing.example", dns_type::txt).status, dns_reply::nxdomain);
  EXPECT_EQ(source.lookup("missing.example", dns_type::txt).status, dns_reply::nxdomain);
  EXPECT_EQ(source.lookup("a.example", dns_type::a).status, dns_reply::nodata);
  EXPECT_EQ(server.queries("a.example", ns_t_txt), 1);
  EXPECT_EQ(server.queries("missing.example", ns_t_txt), 1);
  EXPECT_EQ(server.all_queries(), 3);
}

TEST(resolver_source, names_that_cannot_be_asked_do_not_exist) {
  test_dns_server server;
  test_resolver resolver(server.port(), 1, 1);
  resolver_source source(resolver.get(), clock_type::now() + 3s);
  const std::string names[] = {"", std::string(64, 'a') + ".example", "a..example",
                               std::string(130, 'a') + "." + std::string(130, 'b')};
  for (const std::string& name : names) {
    EXPECT_EQ(source.lookup(name, dns_type::txt).status, dns_reply::nxdomain) << name;
  }
  EXPECT_EQ(server.all_queries(), 0);
}

}  // namespace
