// SPF evaluation processes: a fault in one costs that answer only, the
// process is replaced, and a process holds nothing worth taking.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "checks/offline_answers.hpp"
#include "checks/offline_dns.hpp"
#include "sandbox/unprivileged_user.hpp"
#include "spf/evaluate_spf.hpp"
#include "spf/evaluator_pool.hpp"
#include "spf/evaluator_process.hpp"
#include "spf/spf_result.hpp"

namespace {

spf_question question_for(const char* sender, int seconds = 5) {
  spf_question question{};
  std::snprintf(question.client_addr, sizeof question.client_addr, "192.0.2.7");
  std::snprintf(question.helo_name, sizeof question.helo_name, "mx.example.net");
  std::snprintf(question.sender_addr, sizeof question.sender_addr, "%s", sender);
  std::snprintf(question.receiver_host, sizeof question.receiver_host, "mx.local");
  question.seconds_allowed = static_cast<uint16_t>(seconds);
  return question;
}

spf_evaluation ask(const char* sender, int seconds = 5) {
  return ask_evaluation_process(question_for(sender, seconds))->answer();
}

using clock_type = std::chrono::steady_clock;

// DNS sources that stand for what an attacker could make the evaluation
// do in its process.
class crashing_zone : public dns_source {
 public:
  dns_reply lookup(const std::string& name, dns_type type) override {
    if (name == "crash.example") std::abort();
    return offline_answers::make_zone_dns(clock_type::now())->lookup(name, type);
  }
};
std::unique_ptr<dns_source> crashing_dns(clock_type::time_point) {
  return std::make_unique<crashing_zone>();
}
std::unique_ptr<dns_source> hanging_dns(clock_type::time_point deadline) {
  std::this_thread::sleep_for(std::chrono::seconds(30));
  return offline_answers::make_zone_dns(deadline);
}
std::unique_ptr<dns_source> executing_dns(clock_type::time_point deadline) {
  char* no_arguments[] = {nullptr};
  execve("/bin/true", no_arguments, no_arguments);
  return offline_answers::make_zone_dns(deadline);
}
std::unique_ptr<dns_source> file_opening_dns(clock_type::time_point deadline) {
  FILE* file = std::fopen("/etc/passwd", "r");
  if (file != nullptr) std::abort();
  return offline_answers::make_zone_dns(deadline);
}
// Answers only where root is out of reach; asking whether new privileges
// may be gained (prctl) is itself outside the list.
std::unique_ptr<dns_source> privilege_checking_dns(clock_type::time_point deadline) {
  if (getuid() == 0 || geteuid() == 0 || getgid() == 0 || getegid() == 0) std::abort();
  return offline_answers::make_zone_dns(deadline);
}
std::unique_ptr<dns_source> prctl_calling_dns(clock_type::time_point deadline) {
  (void)prctl(PR_GET_NO_NEW_PRIVS, 0, 0, 0, 0);
  return offline_answers::make_zone_dns(deadline);
}

// The spawners, forked here as the monitor forks them in the daemon.
std::vector<pid_t> spawners;

int local_spawner() {
  auto account = find_unprivileged_account(nullptr);
  pid_t pid = -1;
  int channel = account ? start_process_spawner(*account, spf_evaluator_role, pid) : -1;
  if (channel >= 0) spawners.push_back(pid);
  return channel;
}

// Waits for the spawners, which end once their channel is closed.
void reap_spawners() {
  for (pid_t pid : spawners) (void)waitpid(pid, nullptr, 0);
  spawners.clear();
}

class evaluator_pool_test : public ::testing::Test {
 protected:
  void SetUp() override {
    offline_dns::reset();
    offline_dns::add_spf_record("pass.example", "v=spf1 ip4:192.0.2.0/24 -all");
  }
  void TearDown() override {
    stop_evaluation_processes();
    reap_spawners();
    set_spf_dns_maker(previous_);
  }

  // Evaluation processes forked from now on use `maker`.
  void start(spf_dns_maker maker = offline_answers::make_zone_dns) {
    previous_ = set_spf_dns_maker(maker);
    start_evaluation_processes(local_spawner);
  }

 private:
  spf_dns_maker previous_ = nullptr;
};

}  // namespace

TEST_F(evaluator_pool_test, a_crash_costs_one_answer_and_the_process_is_replaced) {
  start(crashing_dns);
  spf_evaluation crashed = ask("alice@crash.example");
  EXPECT_EQ(crashed.kind, spf_evaluation::failed);
  EXPECT_EQ(crashed.fault, spf_fault::died);
  EXPECT_NE(crashed.signal, 0);
  spf_evaluation next = ask("alice@pass.example");
  EXPECT_EQ(next.kind, spf_evaluation::answered);
  EXPECT_EQ(next.result, spf_code::pass);
}

TEST_F(evaluator_pool_test, an_evaluation_past_its_limit_is_ended) {
  start(hanging_dns);
  auto started = std::chrono::steady_clock::now();
  spf_evaluation outcome = ask("alice@pass.example", 1);
  EXPECT_EQ(outcome.kind, spf_evaluation::failed);
  EXPECT_EQ(outcome.fault, spf_fault::timed_out);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
}

TEST_F(evaluator_pool_test, the_process_is_unprivileged_and_filtered) {
  struct case_t {
    const char* what;
    spf_dns_maker maker;
    int signal;  // 0: answered pass
  } cases[] = {
      {"not root", privilege_checking_dns, 0},
      {"prctl kills it", prctl_calling_dns, SIGSYS},
      {"opening a file is refused", file_opening_dns, 0},
      {"executing a program kills it", executing_dns, SIGSYS},
  };
  for (const auto& c : cases) {
    start(c.maker);
    spf_evaluation outcome = ask("alice@pass.example");
    if (c.signal == 0) {
      EXPECT_EQ(outcome.kind, spf_evaluation::answered) << c.what;
      EXPECT_EQ(outcome.result, spf_code::pass) << c.what;
    } else {
      EXPECT_EQ(outcome.kind, spf_evaluation::failed) << c.what;
      EXPECT_EQ(outcome.signal, c.signal) << c.what;
    }
    stop_evaluation_processes();
    reap_spawners();
  }
}

TEST_F(evaluator_pool_test, a_spawner_that_died_is_replaced_for_the_next_question) {
  start();
  ASSERT_EQ(ask("alice@pass.example").result, spf_code::pass);  // an idle process is left
  ASSERT_EQ(spawners.size(), 1U);
  ASSERT_EQ(kill(spawners[0], SIGKILL), 0);
  (void)waitpid(spawners[0], nullptr, 0);
  spf_evaluation next = ask("alice@pass.example");
  EXPECT_EQ(next.kind, spf_evaluation::answered);
  EXPECT_EQ(next.result, spf_code::pass);
  EXPECT_EQ(spawners.size(), 2U);
}

TEST_F(evaluator_pool_test, an_abandoned_question_frees_its_process) {
  start(hanging_dns);
  auto started = std::chrono::steady_clock::now();
  { auto abandoned = ask_evaluation_process(question_for("alice@pass.example", 30)); }
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2));
}

TEST_F(evaluator_pool_test, without_a_spawner_every_answer_is_a_fault) {
  start();
  stop_evaluation_processes();
  spf_evaluation outcome = ask("alice@pass.example");
  EXPECT_EQ(outcome.kind, spf_evaluation::failed);
  EXPECT_EQ(outcome.fault, spf_fault::unavailable);
}
