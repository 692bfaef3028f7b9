// SPF evaluation processes, each a teslo-spf started for one question: a
// fault in one costs that answer only, and a process holds nothing worth
// taking.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "sandbox/process_spawner.hpp"
#include "sandbox/unprivileged_user.hpp"
#include "spf/evaluator_pool.hpp"
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

// The spawners, started here as the monitor starts them in the daemon:
// the test spawner, whose teslo-spf acts by the sender's domain
// (helper_programs/test_spf_evaluator.cpp).
std::vector<pid_t> spawners;

int local_spawner() {
  auto account = find_unprivileged_account(nullptr);
  pid_t pid = -1;
  int channel =
      account ? start_process_spawner(*account, spf_evaluator_role, pid, TESLO_TEST_HELPER_DIR)
              : -1;
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
  void TearDown() override {
    stop_evaluation_processes();
    reap_spawners();
  }

  void start() { start_evaluation_processes(local_spawner); }
};

}  // namespace

TEST_F(evaluator_pool_test, a_crash_costs_one_answer_and_the_process_is_replaced) {
  start();
  spf_evaluation crashed = ask("alice@crash.example");
  EXPECT_EQ(crashed.kind, spf_evaluation::failed);
  EXPECT_EQ(crashed.fault, spf_fault::died);
  EXPECT_NE(crashed.signal, 0);
  spf_evaluation next = ask("alice@pass.example");
  EXPECT_EQ(next.kind, spf_evaluation::answered);
  EXPECT_EQ(next.result, spf_code::pass);
}

TEST_F(evaluator_pool_test, an_evaluation_past_its_limit_is_ended) {
  start();
  auto started = std::chrono::steady_clock::now();
  spf_evaluation outcome = ask("alice@hang.example", 1);
  EXPECT_EQ(outcome.kind, spf_evaluation::failed);
  EXPECT_EQ(outcome.fault, spf_fault::timed_out);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
}

TEST_F(evaluator_pool_test, the_process_is_unprivileged_and_filtered) {
  struct case_t {
    const char* what;
    const char* sender;
    int signal;  // 0: answered pass
  } cases[] = {
      {"not root", "alice@root.example", 0},
      {"prctl kills it", "alice@prctl.example", SIGSYS},
      {"opening a file is refused", "alice@open.example", 0},
      {"executing a program kills it", "alice@exec.example", SIGSYS},
  };
  start();
  for (const auto& c : cases) {
    spf_evaluation outcome = ask(c.sender);
    if (c.signal == 0) {
      EXPECT_EQ(outcome.kind, spf_evaluation::answered) << c.what;
      EXPECT_EQ(outcome.result, spf_code::pass) << c.what;
    } else {
      EXPECT_EQ(outcome.kind, spf_evaluation::failed) << c.what;
      EXPECT_EQ(outcome.signal, c.signal) << c.what;
    }
  }
}

TEST_F(evaluator_pool_test, a_spawner_that_died_is_replaced_for_the_next_question) {
  start();
  ASSERT_EQ(ask("alice@pass.example").result, spf_code::pass);
  ASSERT_EQ(spawners.size(), 1U);
  // Those started ahead are up: the spawner's channel ends with it.
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  ASSERT_EQ(kill(spawners[0], SIGKILL), 0);
  (void)waitpid(spawners[0], nullptr, 0);
  spf_evaluation next = ask("alice@pass.example");
  EXPECT_EQ(next.kind, spf_evaluation::answered);
  EXPECT_EQ(next.result, spf_code::pass);
  EXPECT_EQ(spawners.size(), 2U);
}

TEST_F(evaluator_pool_test, an_abandoned_question_frees_its_process) {
  start();
  auto started = std::chrono::steady_clock::now();
  { auto abandoned = ask_evaluation_process(question_for("alice@hang.example", 30)); }
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2));
}

TEST_F(evaluator_pool_test, without_a_spawner_every_answer_is_a_fault) {
  start();
  stop_evaluation_processes();
  spf_evaluation outcome = ask("alice@pass.example");
  EXPECT_EQ(outcome.kind, spf_evaluation::failed);
  EXPECT_EQ(outcome.fault, spf_fault::unavailable);
}

TEST_F(evaluator_pool_test, a_process_started_ahead_that_died_is_not_used) {
  start();
  ASSERT_EQ(ask("alice@pass.example").result, spf_code::pass);  // processes start ahead
  ASSERT_EQ(spawners.size(), 1U);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  std::ifstream children("/proc/" + std::to_string(spawners[0]) + "/task/" +
                         std::to_string(spawners[0]) + "/children");
  std::vector<pid_t> killed;
  for (pid_t child = 0; children >> child;) {
    ASSERT_EQ(kill(child, SIGKILL), 0);
    killed.push_back(child);
  }
  // Gone, and reaped by the spawner.
  for (pid_t child : killed) {
    for (int wait = 0; wait < 200 && kill(child, 0) == 0; ++wait) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  EXPECT_FALSE(killed.empty());
  spf_evaluation next = ask("alice@pass.example");
  EXPECT_EQ(next.kind, spf_evaluation::answered);
  EXPECT_EQ(next.result, spf_code::pass);
}
