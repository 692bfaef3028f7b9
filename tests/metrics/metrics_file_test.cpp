// The metrics file is replaced in one step: a reader that opened the old
// file keeps reading it whole, the path then holds the new text with mode
// 0644, and no temporary stays behind; a failed replacement leaves the old
// state and no temporary, says why, and is logged once while it repeats.
#include "metrics/metrics_file.hpp"

#include <gtest/gtest.h>

#include <dirent.h>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <syslog.h>

#include "fake_milter/log_capture.hpp"
#include "metrics/counters.hpp"
#include "checks/spf_cache.hpp"
#include "metrics/metrics_writer.hpp"
#include "mtaconfig/mta_test_support.hpp"

namespace {

using mta_test::scratch_dir;

std::set<std::string> entries(const std::string& directory) {
  std::set<std::string> names;
  DIR* dir = opendir(directory.c_str());
  if (dir == nullptr) return names;
  while (dirent* entry = readdir(dir)) {
    std::string name = entry->d_name;
    if (name != "." && name != "..") names.insert(name);
  }
  closedir(dir);
  return names;
}

std::string contents(std::istream& in) {
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string contents(const std::string& path) {
  std::ifstream in(path);
  return contents(in);
}

// The daemon runs under the mask 0177.
class daemon_mask {
 public:
  daemon_mask() : old_(umask(0177)) {}
  ~daemon_mask() { umask(old_); }
  daemon_mask(const daemon_mask&) = delete;
  daemon_mask& operator=(const daemon_mask&) = delete;

 private:
  mode_t old_;
};

}  // namespace

TEST(replace_metrics_file, a_reader_of_the_old_file_never_sees_the_new_text) {
  daemon_mask mask;
  scratch_dir dir;
  std::string path = dir.path("teslo.prom");
  std::string reason;
  ASSERT_TRUE(replace_metrics_file(path, "teslo_connections_total 1\n", reason)) << reason;
  std::ifstream old_reader(path);

  ASSERT_TRUE(replace_metrics_file(path, "teslo_connections_total 2\n", reason)) << reason;

  EXPECT_EQ(contents(old_reader), "teslo_connections_total 1\n");
  EXPECT_EQ(contents(path), "teslo_connections_total 2\n");
  struct stat status {};
  ASSERT_EQ(stat(path.c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0644U);
  EXPECT_EQ(entries(dir.path("")), std::set<std::string>{"teslo.prom"});
}

TEST(replace_metrics_file, a_failure_keeps_what_was_there_and_no_temporary) {
  struct failure_case {
    const char* name;
    const char* reason;
  };
  const failure_case cases[] = {
      {"missing/teslo.prom", "mkstemp: No such file or directory"},
      {"taken", "rename: Is a directory"},  // a directory in the file's place
  };
  for (const auto& each : cases) {
    SCOPED_TRACE(each.name);
    scratch_dir dir;
    ASSERT_EQ(mkdir(dir.path("taken").c_str(), 0755), 0);
    std::ofstream(dir.path("taken/inside")) << "kept\n";
    std::string reason;
    EXPECT_FALSE(replace_metrics_file(dir.path(each.name), "text\n", reason));
    EXPECT_EQ(reason, each.reason);
    EXPECT_EQ(entries(dir.path("")), std::set<std::string>{"taken"});
    EXPECT_EQ(contents(dir.path("taken/inside")), "kept\n");
  }
}

TEST(metrics_writer, logs_a_repeated_failure_once_and_again_after_a_success) {
  fake_milter::log_capture log;
  scratch_dir dir;
  std::string path = dir.path("missing/teslo.prom");
  write_metrics_now(dir.path("teslo.prom"));  // no failure before this test's
  write_metrics_now(path);
  write_metrics_now(path);
  ASSERT_EQ(mkdir(dir.path("missing").c_str(), 0755), 0);
  write_metrics_now(path);  // succeeds
  ASSERT_EQ(unlink(path.c_str()), 0);
  ASSERT_EQ(rmdir(dir.path("missing").c_str()), 0);
  write_metrics_now(path);
  std::string line = "metrics file " + path + ": mkstemp: No such file or directory";
  EXPECT_EQ(log.lines(), (std::vector<fake_milter::logged_line>{{LOG_ERR, line}, {LOG_ERR, line}}));
}

TEST(metrics_writer, the_last_write_at_stop_holds_the_final_counts) {
  reset_metrics();
  scratch_dir dir;
  std::string path = dir.path("teslo.prom");
  ASSERT_TRUE(start_metrics_writer(path, spf_cache_entry_count, std::chrono::hours(1)));
  count(metric::connections);
  count(metric::connections);
  stop_metrics_writer();
  EXPECT_NE(contents(path).find("\nteslo_connections_total 2\n"), std::string::npos)
      << contents(path);
  reset_metrics();
}
