// Installation and removal as start-up and shutdown run them: both files,
// in order, and the reload only when Sendmail runs.
#include "mtaconfig/milter_config.hpp"

#include <gtest/gtest.h>
#include <syslog.h>
#include <unistd.h>

#include <filesystem>

#include <string>
#include <vector>

#include "common/paths.hpp"
#include "fake_milter/log_capture.hpp"
#include "mtaconfig/mta_test_support.hpp"

using mta_test::lines;

namespace {

class both_files : public ::testing::Test {
 protected:
  mta_test::scratch_dir dir;
  std::string cf = dir.path("sendmail.cf");
  std::string mc = dir.path("brin.mc");
  mta_config_files files{cf.c_str(), mc.c_str()};
  mta_test::fake_host fake;
  mta_test::recording_runner runner;
  fake_milter::log_capture logs;
  std::string cf_original =
      lines({"# Input mail filters", "#O InputMailFilters", "MAIL FILTER DEFINITIONS"});
  std::string mc_original = lines({"MAILER_DEFINITIONS", "MAILER(local)dnl"});

  void SetUp() override {
    mta_test::write_file(cf, cf_original);
    mta_test::write_file(mc, mc_original);
  }
};

}  // namespace

TEST_F(both_files, install_edits_sendmail_cf_then_the_macro_file) {
  install_milter_config(files);
  EXPECT_NE(mta_test::read_file(cf).find("O InputMailFilters=TESLO\n"), std::string::npos);
  EXPECT_NE(mta_test::read_file(mc).find("INPUT_MAIL_FILTER(`TESLO'"), std::string::npos);
}

TEST_F(both_files, macro_file_is_edited_even_when_sendmail_cf_cannot_be) {
  unlink(cf.c_str());
  install_milter_config(files);
  EXPECT_TRUE(logs.contains(LOG_ERR, "can not milter configuraiton"));
  EXPECT_NE(mta_test::read_file(mc).find("INPUT_MAIL_FILTER(`TESLO'"), std::string::npos);
}

TEST_F(both_files, remove_restores_both_and_reloads_only_a_running_sendmail) {
  for (bool running : {true, false}) {
    SCOPED_TRACE(running);
    runner.commands.clear();
    if (running) {
      mta_test::write_file(fake.default_pid_file, "60\n");
      fake.add_process(60, "sendmail");
    } else {
      unlink(fake.default_pid_file.c_str());
      std::filesystem::remove_all(fake.proc + "/60");
    }
    install_milter_config(files);
    remove_milter_config(files, fake.host(), runner);
    EXPECT_EQ(mta_test::read_file(cf), cf_original);
    EXPECT_EQ(mta_test::read_file(mc), mc_original);
    std::vector<std::string> expected;
    if (running) expected.push_back("service sendmail reload >/dev/null");
    EXPECT_EQ(runner.commands, expected);
  }
}

TEST(milter_config, default_files_are_the_fixed_paths) {
  mta_config_files files = default_mta_config_files();
  EXPECT_STREQ(files.sendmail_cf, "/etc/mail/sendmail.cf");
  EXPECT_STREQ(files.macro_file, "/etc/mail/brin.mc");
}
