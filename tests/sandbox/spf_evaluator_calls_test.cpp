// The SPF evaluation process's system-call list: the resolver source asks
// over UDP ahead, again with res_nsend after a failure answer, and over TCP
// after a truncated answer, all under the list; starting a program kills.
#include <gtest/gtest.h>

#include <arpa/nameser.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>

#include "dns/resolver_source.hpp"
#include "dns/test_dns_server.hpp"
#include "sandbox/syscall_lists.hpp"

namespace {

// Runs `body` in a child under the evaluator's list; returns its wait status.
template <typename Body>
int under_evaluator_list(Body body) {
  pid_t child = fork();
  if (child == 0) {
    if (!load_syscall_filter(spf_evaluator_calls())) _exit(90);
    _exit(body());
  }
  int status = 0;
  waitpid(child, &status, 0);
  return status;
}

// 0 when `server` answers a TXT question for "a.example" through the source.
int found_through(test_dns_server& server) {
  test_resolver resolver(server.port(), 1, 1);
  resolver_source source(resolver.get(),
                         std::chrono::steady_clock::now() + std::chrono::seconds(3));
  source.ask_ahead("a.example", dns_type::txt);
  return source.lookup("a.example", dns_type::txt).status == dns_reply::found ? 0 : 1;
}

TEST(spf_evaluator_list, lets_the_resolver_source_ask) {
  test_dns_server plain;
  test_dns_server failing_once({.servfail_first = 1});
  test_dns_server truncating({.truncate_udp = true});
  for (test_dns_server* server : {&plain, &failing_once, &truncating}) {
    server->add("a.example", ns_t_txt, dns_messages::txt({"v=spf1 -all"}));
  }
  int status = under_evaluator_list([&] {
    return found_through(plain) * 1 + found_through(failing_once) * 2 +
           found_through(truncating) * 4;
  });
  ASSERT_TRUE(WIFEXITED(status)) << "signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(failing_once.queries("a.example", ns_t_txt), 2);
  EXPECT_EQ(truncating.tcp_queries(), 1);
}

TEST(spf_evaluator_list, kills_a_process_that_starts_a_program) {
  int status = under_evaluator_list([] { return static_cast<int>(syscall(SYS_execve, 0, 0, 0)); });
  ASSERT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(WTERMSIG(status), SIGSYS);
}

}  // namespace
