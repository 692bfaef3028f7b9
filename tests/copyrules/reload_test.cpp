#include "filter/reload_thread.hpp"

#include <gtest/gtest.h>
#include <syslog.h>

#include <csignal>
#include <filesystem>
#include <vector>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#include "copyrules/load_copy_rules.hpp"
#include "copyrules/reload_wait.hpp"
#include "copyrules/rule_files.hpp"
#include "monitor/reload_signal.hpp"
#include "fake_milter/log_capture.hpp"

namespace {

using copyrules_test::permissive_document;
using copyrules_test::reload_count;
using copyrules_test::rule_dir;
using copyrules_test::wait_for_reloads;

std::string one_rule(const char* domain) {
  return permissive_document(std::string("<rule><domain>") + domain +
                             "</domain><mailaddr>copy@archive.test</mailaddr>"
                             "<direction>S</direction></rule>");
}

// Stops the reload thread however the test ends.
struct running_reload_thread {
  explicit running_reload_thread(const std::string& path) {
    EXPECT_TRUE(install_reload_signal());
    EXPECT_TRUE(start_reload_thread(reload_wakeup_fd(), path.c_str()));
  }
  ~running_reload_thread() {
    stop_reload_thread();
    reset_copy_rules();
  }
};

TEST(reload_thread, signal_rereads_the_rule_file) {
  rule_dir dir;
  std::string path = dir.write("teslo.xml", one_rule("first.test"));
  fake_milter::log_capture logs;
  load_copy_rules(path.c_str());
  running_reload_thread reloader(path);

  dir.write("teslo.xml", one_rule("second.test"));
  ASSERT_EQ(kill(getpid(), SIGUSR1), 0);
  ASSERT_TRUE(wait_for_reloads(logs, 1));
  ASSERT_EQ(current_copy_rules()->size(), 1u);
  EXPECT_EQ((*current_copy_rules())[0].domain, "second.test>");

  // A broken file: the error line, then the reload line, and no rules.
  dir.write("teslo.xml", "<rules/>");
  ASSERT_EQ(kill(getpid(), SIGUSR1), 0);
  ASSERT_TRUE(wait_for_reloads(logs, 2));
  auto lines = logs.lines();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[lines.size() - 2].priority, LOG_CRIT);
  EXPECT_TRUE(lines[lines.size() - 2].text.starts_with("XML configure error:"))
      << lines[lines.size() - 2].text;
  EXPECT_GT(lines[lines.size() - 2].text.size(), std::string("XML configure error:").size());
  EXPECT_EQ(lines.back(), (fake_milter::logged_line{LOG_INFO, "TESLO reload"}));
  EXPECT_TRUE(current_copy_rules()->empty());

  // The next good file brings the rules back, once.
  dir.write("teslo.xml", one_rule("third.test"));
  ASSERT_EQ(kill(getpid(), SIGUSR1), 0);
  ASSERT_TRUE(wait_for_reloads(logs, 3));
  EXPECT_EQ(current_copy_rules()->size(), 1u);
}

TEST(reload_thread, signal_before_the_thread_starts_is_not_lost) {
  rule_dir dir;
  std::string path = dir.write("teslo.xml", one_rule("early.test"));
  fake_milter::log_capture logs;
  ASSERT_TRUE(install_reload_signal());
  reset_copy_rules();
  on_reload_signal(SIGUSR1);  // as if delivered during start-up
  running_reload_thread reloader(path);
  ASSERT_TRUE(wait_for_reloads(logs, 1));
  EXPECT_EQ(current_copy_rules()->size(), 1u);
}

// daemon() forks: a request written before the fork is served by the
// reload thread that the child starts.
TEST(reload_thread, request_before_fork_is_served_in_the_child) {
  rule_dir dir;
  std::string path = dir.write("teslo.xml", one_rule("forked.test"));
  ASSERT_TRUE(install_reload_signal());
  reset_copy_rules();
  on_reload_signal(SIGUSR1);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    bool started = start_reload_thread(reload_wakeup_fd(), path.c_str());
    for (int i = 0; started && i < 15000 && current_copy_rules()->empty(); ++i) usleep(2000);
    bool reloaded = !current_copy_rules()->empty();
    stop_reload_thread();
    _exit(started && reloaded ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  // The child consumed the byte of the shared pipe; nothing is left here.
  char byte;
  EXPECT_EQ(read(reload_wakeup_fd(), &byte, 1), -1);
}

bool blocks(const sigset_t& mask, int signal_number) {
  return sigismember(&mask, signal_number) == 1;
}

// SigBlk of every thread of the process, from /proc.
std::vector<unsigned long long> thread_blocked_masks() {
  std::vector<unsigned long long> masks;
  for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
    std::ifstream status(task.path() / "status");
    std::string line;
    while (std::getline(status, line)) {
      if (line.starts_with("SigBlk:")) masks.push_back(std::stoull(line.substr(7), nullptr, 16));
    }
  }
  return masks;
}

TEST(reload_thread, only_the_reload_thread_takes_sigusr1) {
  rule_dir dir;
  std::string path = dir.write("teslo.xml", one_rule("mask.test"));
  sigset_t before;
  pthread_sigmask(SIG_SETMASK, nullptr, &before);
  {
    running_reload_thread reloader(path);
    sigset_t now;
    pthread_sigmask(SIG_SETMASK, nullptr, &now);
    EXPECT_TRUE(blocks(now, SIGUSR1)) << "threads created from here on inherit the block";
    for (int stop_signal : {SIGHUP, SIGTERM, SIGINT}) {
      EXPECT_EQ(blocks(now, stop_signal), blocks(before, stop_signal));
    }
    auto bit = [](int number) { return 1ULL << (number - 1); };
    unsigned long long stop_bits = bit(SIGHUP) | bit(SIGTERM) | bit(SIGINT);
    // The thread opens SIGUSR1 itself once it runs; give it time to start.
    int reload_threads = 0;
    for (int attempt = 0; attempt < 5000 && reload_threads == 0; ++attempt) {
      if (attempt > 0) usleep(2000);
      for (unsigned long long mask : thread_blocked_masks()) {
        if ((mask & stop_bits) == stop_bits && (mask & bit(SIGUSR1)) == 0) ++reload_threads;
      }
    }
    EXPECT_EQ(reload_threads, 1);
  }
  pthread_sigmask(SIG_SETMASK, &before, nullptr);
}

}  // namespace
