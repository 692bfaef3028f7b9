// The rewrite through a temporary beside the file: what was planted at that
// name is never followed or written, only a complete copy with the
// original's owner and mode replaces the original, and it does so by rename.
#include "mtaconfig/file_rewrite.hpp"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <csignal>
#include <string>

#include "fake_milter/log_capture.hpp"
#include "mtaconfig/macro_file.hpp"
#include "mtaconfig/mta_test_support.hpp"
#include "mtaconfig/sendmail_cf.hpp"

using mta_test::lines;

namespace {

class temp_name : public ::testing::Test {
 protected:
  mta_test::scratch_dir dir;
  std::string cf = dir.path("sendmail.cf");
  std::string temp = rewrite_temp_path(cf);
  std::string victim = dir.path("victim");
  fake_milter::log_capture logs;
  const std::string original = lines({"x", "MAIL FILTER DEFINITIONS", "y"});

  void SetUp() override {
    mta_test::write_file(cf, original);
    mta_test::write_file(victim, "victim\n");
  }
  void install() { install_cf_entry(cf.c_str()); }
  bool installed() { return mta_test::read_file(cf).find("XTESLO") != std::string::npos; }
};

// Lowers the file-size limit for one scope, so writes past it fail with
// EFBIG as on a full disk.
class file_size_limit {
 public:
  explicit file_size_limit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &saved_);
    previous_handler_ = std::signal(SIGXFSZ, SIG_IGN);
    rlimit lowered = saved_;
    lowered.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &lowered);
  }
  ~file_size_limit() {
    setrlimit(RLIMIT_FSIZE, &saved_);
    std::signal(SIGXFSZ, previous_handler_);
  }
  file_size_limit(const file_size_limit&) = delete;
  file_size_limit& operator=(const file_size_limit&) = delete;

 private:
  rlimit saved_{};
  void (*previous_handler_)(int) = nullptr;
};

}  // namespace

TEST_F(temp_name, planted_symlink_is_replaced_not_followed) {
  ASSERT_EQ(symlink(victim.c_str(), temp.c_str()), 0);
  install();
  EXPECT_EQ(mta_test::read_file(victim), "victim\n");
  EXPECT_TRUE(installed());
  EXPECT_TRUE(logs.lines().empty());
}

TEST_F(temp_name, dangling_symlink_creates_nothing_at_its_target) {
  std::string target = dir.path("created-through-link");
  ASSERT_EQ(symlink(target.c_str(), temp.c_str()), 0);
  install();
  EXPECT_FALSE(mta_test::exists(target));
  EXPECT_TRUE(installed());
}

TEST_F(temp_name, planted_file_of_another_user_is_not_written) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to plant a file owned by another user";
  mta_test::write_file(temp, "planted\n");
  ASSERT_EQ(chown(temp.c_str(), 65534, 65534), 0);
  ASSERT_EQ(chmod(temp.c_str(), 0666), 0);
  ASSERT_EQ(unlink(victim.c_str()), 0);
  ASSERT_EQ(link(temp.c_str(), victim.c_str()), 0);
  install();
  // The planted inode (still reachable through its second name) is untouched.
  EXPECT_EQ(mta_test::read_file(victim), "planted\n");
  EXPECT_TRUE(installed());
  struct stat replaced;
  ASSERT_EQ(stat(cf.c_str(), &replaced), 0);
  EXPECT_EQ(replaced.st_uid, 0u);
}

TEST_F(temp_name, directory_at_the_name_fails_the_open) {
  ASSERT_EQ(mkdir(temp.c_str(), 0700), 0);
  install();
  EXPECT_EQ(mta_test::read_file(cf), original);
  EXPECT_TRUE(logs.contains(LOG_ERR, "can not milter configuraiton"));
}

TEST_F(temp_name, replaced_file_keeps_owner_and_mode) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to give the file another owner";
  ASSERT_EQ(chown(cf.c_str(), 1234, 2345), 0);
  ASSERT_EQ(chmod(cf.c_str(), 0640), 0);
  install();
  ASSERT_TRUE(installed());
  struct stat replaced;
  ASSERT_EQ(stat(cf.c_str(), &replaced), 0);
  EXPECT_EQ(replaced.st_uid, 1234u);
  EXPECT_EQ(replaced.st_gid, 2345u);
  EXPECT_EQ(replaced.st_mode & 07777, 0640u);
}

TEST_F(temp_name, replaced_file_keeps_its_mode_without_root) {
  ASSERT_EQ(chmod(cf.c_str(), 0644), 0);
  remove_cf_entry(cf.c_str());
  struct stat replaced;
  ASSERT_EQ(stat(cf.c_str(), &replaced), 0);
  EXPECT_EQ(replaced.st_mode & 07777, 0644u);
}

TEST_F(temp_name, full_disk_leaves_every_original_untouched) {
  std::string big;
  for (int i = 0; i < 400; ++i) big += "line " + std::to_string(i) + "\n";
  big += "MAIL FILTER DEFINITIONS\nMAILER(local)dnl\n";
  std::string mc = dir.path("brin.mc");
  std::string mc_temp = rewrite_temp_path(mc);
  mta_test::write_file(cf, big);
  mta_test::write_file(mc, big);
  {
    file_size_limit limit(1024);
    install_cf_entry(cf.c_str());
    remove_cf_entry(cf.c_str());
    install_mc_entry(mc.c_str());
    remove_mc_entry(mc.c_str());
  }
  EXPECT_EQ(mta_test::read_file(cf), big);
  EXPECT_EQ(mta_test::read_file(mc), big);
  EXPECT_FALSE(mta_test::exists(temp));
  EXPECT_FALSE(mta_test::exists(mc_temp));
  EXPECT_EQ(logs.lines(), (std::vector<fake_milter::logged_line>{
                              {LOG_ERR, "Sendmail.cf replace error"},
                              {LOG_ERR, "Sendmail.cf replace error"},
                              {LOG_ERR, "brin.mc replace error"},
                              {LOG_ERR, "brin.mc replace error"},
                          }));
}

TEST_F(temp_name, read_error_makes_no_move) {
  // Reading a directory opened as a stream fails with EISDIR.
  std::string unreadable = dir.path("unreadable");
  ASSERT_EQ(mkdir(unreadable.c_str(), 0700), 0);
  install_cf_entry(unreadable.c_str());
  remove_cf_entry(unreadable.c_str());
  EXPECT_FALSE(mta_test::exists(rewrite_temp_path(unreadable)));
  EXPECT_EQ(logs.lines(), (std::vector<fake_milter::logged_line>{
                              {LOG_ERR, "Sendmail.cf replace error"},
                              {LOG_ERR, "Sendmail.cf replace error"},
                          }));
}

TEST_F(temp_name, replacement_is_a_rename_that_an_open_reader_never_sees) {
  FILE* reader = std::fopen(cf.c_str(), "r");
  ASSERT_NE(reader, nullptr);
  install();
  ASSERT_TRUE(installed());
  // The old inode is untouched: a reader gets the old version whole.
  char buffer[256] = {};
  std::size_t got = std::fread(buffer, 1, sizeof buffer - 1, reader);
  std::fclose(reader);
  EXPECT_EQ(std::string(buffer, got), original);
}

TEST_F(temp_name, temporary_left_by_a_killed_run_is_replaced) {
  mta_test::write_file(temp, "half a copy");
  install();
  EXPECT_TRUE(installed());
  EXPECT_FALSE(mta_test::exists(temp));
}

TEST_F(temp_name, symlinked_file_is_replaced_where_the_link_points) {
  std::string link_path = dir.path("linked.cf");
  ASSERT_EQ(symlink(cf.c_str(), link_path.c_str()), 0);
  install_cf_entry(link_path.c_str());
  struct stat link_status;
  ASSERT_EQ(lstat(link_path.c_str(), &link_status), 0);
  EXPECT_TRUE(S_ISLNK(link_status.st_mode));
  EXPECT_TRUE(installed());
}

TEST(file_rewrite, reads_trimmed_lines_twice_and_replaces_the_file) {
  mta_test::scratch_dir dir;
  std::string source = dir.path("source");
  mta_test::write_file(source, "a \r\n\tb\t\n\n");
  file_rewrite rewrite(source.c_str());
  ASSERT_TRUE(rewrite.source_open());
  ASSERT_TRUE(rewrite.temp_open());
  EXPECT_EQ(rewrite.temp_path(), dir.path(".source.teslo-new"));
  std::string line;
  std::vector<std::string> first;
  while (rewrite.read_line(line)) first.push_back(line);
  EXPECT_EQ(first, (std::vector<std::string>{"a", "\tb", ""}));
  rewrite.rewind();
  while (rewrite.read_line(line)) rewrite.write_line(line);
  EXPECT_TRUE(rewrite.replace());
  EXPECT_EQ(mta_test::read_file(source), "a\n\tb\n\n");
  EXPECT_FALSE(mta_test::exists(rewrite.temp_path()));
}
