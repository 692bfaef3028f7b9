// The macro-file editor: the inserted line, its removal, failures, and that a
// sendmail.cf regenerated from the edited file declares the filter exactly as
// the sendmail.cf editor does.
#include "mtaconfig/macro_file.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "mtaconfig/file_rewrite.hpp"
#include "fake_milter/log_capture.hpp"
#include "mtaconfig/mta_test_support.hpp"
#include "mtaconfig/sendmail_cf.hpp"

using mta_test::lines;

namespace {

const std::string inserted =
    "INPUT_MAIL_FILTER(`TESLO', `S=unix:/var/run/teslo.sock, F=, T=S:240s;R:240s;E:5m')dnl ";

struct mc_case {
  const char* name;
  std::string before;
  std::string after;
};

class mc_file : public ::testing::Test {
 public:
  mta_test::scratch_dir dir;
  std::string mc = dir.path("brin.mc");
  std::string temp = rewrite_temp_path(mc);
  fake_milter::log_capture logs;

  void install() { install_mc_entry(mc.c_str()); }
  void remove() { remove_mc_entry(mc.c_str()); }
};

// The lines of `text` that begin with `start`.
std::vector<std::string> lines_starting(const std::string& text, const std::string& start) {
  std::vector<std::string> found;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (line.starts_with(start)) found.push_back(line);
  }
  return found;
}

}  // namespace

TEST_F(mc_file, install_writes_each_case_as_expected) {
  const std::vector<mc_case> cases = {
      {"line above the local mailer",
       lines({"MAILER_DEFINITIONS", "MAILER(local)dnl", "MAILER(smtp)dnl"}),
       lines({"MAILER_DEFINITIONS", inserted, "MAILER(local)dnl", "MAILER(smtp)dnl"})},
      {"two local mailer lines", lines({"MAILER(local)", "MAILER(local)dnl"}),
       lines({inserted, "MAILER(local)", inserted, "MAILER(local)dnl"})},
      {"quoted mailer name: no line, still trimmed", "MAILER(`local')dnl  \r\nx\t\n",
       lines({"MAILER(`local')dnl", "x"})},
      {"indented anchor does not count", lines({" MAILER(local)"}), lines({" MAILER(local)"})},
  };
  for (const mc_case& test : cases) {
    SCOPED_TRACE(test.name);
    mta_test::write_file(mc, test.before);
    install();
    EXPECT_EQ(mta_test::read_file(mc), test.after);
    EXPECT_FALSE(mta_test::exists(temp));
  }
  EXPECT_TRUE(logs.lines().empty());
}

TEST_F(mc_file, install_leaves_a_file_with_the_entry_alone) {
  for (const std::string& present :
       {inserted, std::string("  dnl INPUT_MAIL_FILTER(`TESLO', `S=elsewhere')"),
        std::string("INPUT_MAIL_FILTER(`TESLO', `S=unix:/var/run/teslo.sock',F=, "
                    "T=S:240s;R:240s;E:5m)dnl ")}) {
    SCOPED_TRACE(present);
    std::string before = lines({present, "MAILER(local)dnl  "});
    mta_test::write_file(mc, before);
    install();
    EXPECT_EQ(mta_test::read_file(mc), before);
    EXPECT_FALSE(mta_test::exists(temp));
  }
}

TEST_F(mc_file, remove_drops_every_line_with_the_marker) {
  mta_test::write_file(mc, lines({"a  ", inserted, "INPUT_MAIL_FILTER(`TESLOX', `S=x')",
                                  "INPUT_MAIL_FILTER(`OTHER', `S=x')", "MAILER(local)dnl\r"}));
  remove();
  EXPECT_EQ(mta_test::read_file(mc),
            lines({"a", "INPUT_MAIL_FILTER(`OTHER', `S=x')", "MAILER(local)dnl"}));
  EXPECT_FALSE(mta_test::exists(temp));
}

TEST_F(mc_file, install_then_remove_gives_back_the_trimmed_original) {
  mta_test::write_file(
      mc, "divert(-1)dnl \r\nMAILER_DEFINITIONS\r\nMAILER(local)dnl\t\r\nMAILER(smtp)dnl\r\n");
  install();
  remove();
  EXPECT_EQ(mta_test::read_file(mc),
            lines({"divert(-1)dnl", "MAILER_DEFINITIONS", "MAILER(local)dnl", "MAILER(smtp)dnl"}));
}

TEST_F(mc_file, open_failures_name_each_file_in_order) {
  // A directory at the temporary's name cannot be replaced by a new file.
  ASSERT_EQ(mkdir(temp.c_str(), 0700), 0);
  install();
  mta_test::write_file(mc, "x\n");
  remove();
  EXPECT_EQ(mta_test::read_file(mc), "x\n");
  EXPECT_EQ(logs.lines(), (std::vector<fake_milter::logged_line>{
                              {LOG_ERR, mc + " remake error!"},
                              {LOG_ERR, temp + " write error"},
                              {LOG_ERR, temp + " write error"},
                          }));
}

// Regenerates sendmail.cf with m4 and Sendmail's cf macros from a macro file
// before and after the edit: the regenerated filter definition is the one the
// sendmail.cf editor writes, flags and timeouts included.
TEST_F(mc_file, regenerated_configuration_declares_the_filter_like_the_cf_editor) {
  const char* cf_macros = "/usr/share/sendmail/cf/m4/cf.m4";
  if (access(cf_macros, R_OK) != 0 || std::system("command -v m4 >/dev/null") != 0) {
    GTEST_SKIP() << "m4 or Sendmail's cf macros are not installed";
  }
  mta_test::write_file(mc, lines({"divert(-1)dnl", "OSTYPE(`debian')dnl", "DOMAIN(`debian-mta')dnl",
                                  "MAILER_DEFINITIONS", "MAILER(local)dnl", "MAILER(smtp)dnl"}));
  std::string plain_cf = dir.path("plain.cf");
  std::string filtered_cf = dir.path("filtered.cf");
  std::string m4 = std::string("m4 ") + cf_macros + " ";
  ASSERT_EQ(std::system((m4 + mc + " > " + plain_cf + " 2>/dev/null").c_str()), 0);
  install();
  ASSERT_EQ(std::system((m4 + mc + " > " + filtered_cf + " 2>/dev/null").c_str()), 0);

  std::vector<std::string> regenerated = lines_starting(mta_test::read_file(filtered_cf), "XTESLO");
  ASSERT_EQ(regenerated.size(), 1u);
  EXPECT_EQ(regenerated[0], filter_definition_line);

  install_cf_entry(plain_cf.c_str());
  EXPECT_EQ(lines_starting(mta_test::read_file(plain_cf), "XTESLO"), regenerated);
  EXPECT_EQ(lines_starting(mta_test::read_file(plain_cf), "O InputMailFilters"),
            lines_starting(mta_test::read_file(filtered_cf), "O InputMailFilters"));
}
