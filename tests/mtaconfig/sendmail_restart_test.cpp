// The one-shot restart: only a running Sendmail is restarted, once; the
// restart process keeps the stop signals blocked, and the shell it starts
// does not.
#include "monitor/sendmail_restart.hpp"

#include <gtest/gtest.h>
#include <pthread.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <string>
#include <vector>

#include "mtaconfig/mta_test_support.hpp"

namespace {

bool blocked_here(int signal_number) {
  sigset_t current;
  pthread_sigmask(SIG_SETMASK, nullptr, &current);
  return sigismember(&current, signal_number) == 1;
}

// Runs in the restart process: its first command ends that process with
// status 42 when all three stop signals are blocked there, 43 otherwise.
class mask_reporting_runner : public command_runner {
 public:
  int run(const char*) override {
    for (int signal_number : {SIGHUP, SIGTERM, SIGINT})
      if (!blocked_here(signal_number)) _exit(43);
    _exit(42);
  }
};

}  // namespace

TEST(sendmail_restart, restarts_only_a_running_sendmail_once) {
  for (bool running : {true, false}) {
    SCOPED_TRACE(running);
    mta_test::fake_host fake;
    if (running) {
      mta_test::write_file(fake.default_pid_file, "70\n");
      fake.add_process(70, "sendmail-mta");
    }
    mta_test::recording_runner runner;
    runner.results["service"] = 256;  // a failed restart is not retried
    restart_running_sendmail(fake.host(), runner, 0);
    std::vector<std::string> expected;
    if (running) expected.push_back("service sendmail restart >/dev/null");
    EXPECT_EQ(runner.commands, expected);
  }
}

TEST(sendmail_restart, process_blocks_stop_signals_and_leaves_the_creator_alone) {
  mask_reporting_runner runner;
  mta_test::fake_host fake;
  mta_test::write_file(fake.default_pid_file, "71\n");
  fake.add_process(71, "sendmail");
  sendmail_restart_job job{fake.host(), &runner, 0};
  bool term_blocked_before = blocked_here(SIGTERM);
  pid_t child = start_sendmail_restart_process(&job);
  ASSERT_GT(child, 0);
  EXPECT_EQ(blocked_here(SIGTERM), term_blocked_before);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 42);  // one command, run with the signals blocked
}

namespace {

void* run_mask_check(void* result) {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  system_command_runner runner;
  // What a command the shell runs inherits (the shell blocks signals itself
  // while it waits for a child, so the exec'd command reads its own mask).
  *static_cast<int*>(result) =
      runner.run("exec grep -Eq '^SigBlk:[[:space:]]*0+$' /proc/self/status");
  return nullptr;
}

}  // namespace

TEST(system_command_runner, shell_starts_with_no_blocked_signals) {
  int result = -2;
  pthread_t thread;
  ASSERT_EQ(pthread_create(&thread, nullptr, run_mask_check, &result), 0);
  ASSERT_EQ(pthread_join(thread, nullptr), 0);
  EXPECT_EQ(result, 0);
}

TEST(system_command_runner, returns_what_system_returns) {
  system_command_runner runner;
  EXPECT_EQ(runner.run("true"), 0);
  EXPECT_EQ(runner.run("exit 3"), 3 << 8);
  EXPECT_EQ(runner.run("exit 0; echo not reached"), 0);
}
