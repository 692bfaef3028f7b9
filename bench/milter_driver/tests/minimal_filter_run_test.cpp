// Whole load runs against the minimal filter (real libmilter) on a socket
// in a private temporary directory: every message answered, the counts add
// up, and the filter's CPU time and peak RSS are read.
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "load_run.hpp"
#include "load_stats.hpp"
#include "milterclient/test_message.hpp"

namespace {

// Starts the minimal filter on a private socket and stops it (by its pid)
// at the end of the test.
class minimal_filter_process {
 public:
  minimal_filter_process() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr ? base : "/tmp") + "/minimal-filter-XXXXXX";
    if (mkdtemp(pattern.data()) != nullptr) directory_ = pattern;
    socket_path_ = directory_ + "/filter.sock";
    pid_file_ = directory_ + "/filter.pid";
    pid_ = fork();
    if (pid_ == 0) {
      execl(MINIMAL_FILTER_PATH, MINIMAL_FILTER_PATH, socket_path_.c_str(), pid_file_.c_str(),
            static_cast<char*>(nullptr));
      _exit(127);
    }
    // Ready once the pid file is written (after the socket is listening).
    for (int i = 0; i < 100 && pid_from_file(pid_file_) != pid_; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  }
  ~minimal_filter_process() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);  // libmilter takes seconds to stop on SIGTERM
      int status = 0;
      waitpid(pid_, &status, 0);
    }
    unlink(socket_path_.c_str());
    unlink(pid_file_.c_str());
    rmdir(directory_.c_str());
  }
  bool ready() const { return pid_ > 0 && pid_from_file(pid_file_) == pid_; }
  pid_t pid() const { return pid_; }
  const std::string& socket_path() const { return socket_path_; }

 private:
  std::string directory_;
  std::string socket_path_;
  std::string pid_file_;
  pid_t pid_ = -1;
};

}  // namespace

TEST(load_run, every_message_answered_by_the_minimal_filter) {
  minimal_filter_process filter;
  ASSERT_TRUE(filter.ready());
  driver_options options;
  options.socket_path = filter.socket_path();
  options.connections = 4;
  options.messages_per_connection = 50;
  options.filter_pid = filter.pid();
  options.abort_every = 10;
  load_result result = run_load(options, realistic_message(options.message));
  EXPECT_EQ(result.messages, 200U);
  EXPECT_EQ(result.answered(), 200U);
  EXPECT_EQ(result.error_count, 0U) << (result.errors.empty() ? "" : result.errors.front());
  EXPECT_EQ(result.verdicts[static_cast<std::size_t>(verdict::continued)], 180U);
  EXPECT_EQ(result.verdicts[static_cast<std::size_t>(verdict::aborted)], 20U);
  EXPECT_EQ(result.connections_opened, 4U);
  EXPECT_EQ(result.latencies_ms.size(), 200U);
  EXPECT_TRUE(std::is_sorted(result.latencies_ms.begin(), result.latencies_ms.end()));
  // libmilter (a version 2 filter) declines the DATA and unknown-command steps.
  EXPECT_NE(result.filter_protocol & 0x200U, 0U);
  ASSERT_TRUE(result.filter_before && result.filter_after);
  EXPECT_GE(result.filter_after->cpu_seconds, result.filter_before->cpu_seconds);
  EXPECT_GT(result.filter_after->peak_rss_kb, 0U);
}

TEST(load_run, dropped_connections_are_reopened_and_the_rest_answered) {
  minimal_filter_process filter;
  ASSERT_TRUE(filter.ready());
  driver_options options;
  options.socket_path = filter.socket_path();
  options.connections = 2;
  options.messages_per_connection = 40;
  options.drop_every = 5;  // messages 5, 10, ... of each connection: all four drop points
  load_result result = run_load(options, realistic_message(options.message));
  EXPECT_EQ(result.messages, 80U);
  EXPECT_EQ(result.error_count, 0U) << (result.errors.empty() ? "" : result.errors.front());
  EXPECT_EQ(result.verdicts[static_cast<std::size_t>(verdict::dropped)], 16U);
  EXPECT_EQ(result.verdicts[static_cast<std::size_t>(verdict::continued)], 64U);
  // One connection at the start, and a new one after each drop but the last.
  EXPECT_EQ(result.connections_opened, 2U + 14U);
  EXPECT_EQ(result.latencies_ms.size(), 64U);
}

TEST(load_run, stops_at_the_time_limit) {
  minimal_filter_process filter;
  ASSERT_TRUE(filter.ready());
  driver_options options;
  options.socket_path = filter.socket_path();
  options.connections = 2;
  options.messages_per_connection = 100000000L;
  options.time_limit_seconds = 0.3;
  auto started = std::chrono::steady_clock::now();
  load_result result = run_load(options, realistic_message(options.message));
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
  EXPECT_TRUE(result.stopped_by_time);
  EXPECT_GT(result.answered(), 0U);
  EXPECT_EQ(result.error_count, 0U);
}

TEST(load_run, counts_every_message_as_an_error_when_no_filter_listens) {
  driver_options options;
  options.socket_path = "/nonexistent-dir/filter.sock";
  options.connections = 2;
  options.messages_per_connection = 3;
  load_result result = run_load(options, realistic_message(options.message));
  EXPECT_EQ(result.messages, 6U);
  EXPECT_EQ(result.answered(), 0U);
  EXPECT_EQ(result.error_count, 6U);
  EXPECT_TRUE(result.latencies_ms.empty());
}
