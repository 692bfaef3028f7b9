// The sendmail.cf editor: the lines installation and removal write, and what
// happens to the file when something fails.
#include "mtaconfig/sendmail_cf.hpp"

#include <gtest/gtest.h>
#include <syslog.h>

#include <string>
#include <vector>

#include "mtaconfig/file_rewrite.hpp"
#include "fake_milter/log_capture.hpp"
#include "mtaconfig/mta_test_support.hpp"

using mta_test::lines;

namespace {

const std::string connect_line =
    "O Milter.macros.connect=j, _, {daemon_name}, {if_name}, {if_addr}";
const std::string helo_line =
    "O Milter.macros.helo={tls_version}, {cipher}, {cipher_bits}, {cert_subject}, {cert_issuer}, "
    "{verify}";
const std::string sender_line =
    "O Milter.macros.envfrom=i, {auth_type}, {auth_authen}, {auth_ssf}, {auth_author}, "
    "{mail_mailer},  "
    "{mail_host}, {mail_addr}, {msg_size}";
const std::string recipient_line =
    "O Milter.macros.envrcpt={rcpt_mailer}, {rcpt_host}, {rcpt_addr}";
const std::string definition = "XTESLO, S=unix:/var/run/teslo.sock, F=, T=S:240s;R:240s;E:5m";

struct cf_case {
  const char* name;
  std::string before;
  std::string after;
};

class cf_file : public ::testing::Test {
 public:
  mta_test::scratch_dir dir;
  std::string cf = dir.path("sendmail.cf");
  std::string temp = rewrite_temp_path(cf);
  fake_milter::log_capture logs;

  void install() { install_cf_entry(cf.c_str()); }
  void remove() { remove_cf_entry(cf.c_str()); }
};

}  // namespace

TEST_F(cf_file, install_writes_each_case_as_expected) {
  const std::vector<cf_case> cases = {
      {"generated file without filters",
       lines({"# Input mail filters", "#O InputMailFilters", "", "#####  MAIL FILTER DEFINITIONS",
              "#####"}),
       lines({"# Input mail filters", "O InputMailFilters=TESLO", "# Milter options", connect_line,
              helo_line, sender_line, recipient_line, "#O InputMailFilters", "",
              "#####  MAIL FILTER DEFINITIONS", definition, "#####"})},
      {"other filter list without macro options",
       lines({"# Input mail filters", "O InputMailFilters=a,b", "MAIL FILTER DEFINITIONS"}),
       lines({"# Input mail filters", "O InputMailFilters=a,b,TESLO", sender_line, recipient_line,
              "MAIL FILTER DEFINITIONS", definition})},
      {"list ending in a comma", lines({"O InputMailFilters=a,"}),
       lines({"O InputMailFilters=a,TESLO", sender_line, recipient_line})},
      {"empty list", lines({"O InputMailFilters="}),
       lines({"O InputMailFilters=,TESLO", sender_line, recipient_line})},
      {"other list and macro options lacking the macros the checks read",
       lines({"O InputMailFilters=a", "O Milter.macros.helo={cipher}",
              "O Milter.macros.envfrom=i, {auth_type}", "O Milter.macros.envrcpt=x,"}),
       lines({"O InputMailFilters=a,TESLO", "O Milter.macros.helo={cipher}, {verify}",
              "O Milter.macros.envfrom=i, {auth_type}, {mail_addr}, {msg_size}",
              "O Milter.macros.envrcpt=x,{rcpt_addr}"})},
      {"sender macros with the address but without the size",
       lines({"O InputMailFilters=a", "O Milter.macros.envfrom={mail_addr},", recipient_line}),
       lines({"O InputMailFilters=a,TESLO", "O Milter.macros.envfrom={mail_addr},{msg_size}",
              recipient_line})},
      {"macro options that already carry the address macros",
       lines({"O InputMailFilters=a", sender_line, recipient_line}),
       lines({"O InputMailFilters=a,TESLO", sender_line, recipient_line})},
      {"no list and no list comment: only the definition, after the first heading",
       lines({"x", "MAIL FILTER DEFINITIONS", "MAIL FILTER DEFINITIONS"}),
       lines({"x", "MAIL FILTER DEFINITIONS", definition, "MAIL FILTER DEFINITIONS"})},
      {"no definitions heading: no definition line", lines({"# Input mail filters"}),
       lines({"# Input mail filters", "O InputMailFilters=TESLO", "# Milter options", connect_line,
              helo_line, sender_line, recipient_line})},
      {"definition already there",
       lines({"XTESLO, S=unix:/var/run/teslo.sock, F=R", "MAIL FILTER DEFINITIONS"}),
       lines({"XTESLO, S=unix:/var/run/teslo.sock, F=R", "MAIL FILTER DEFINITIONS"})},
      {"CR-LF line ends and trailing blanks", "a \t\r\nMAIL FILTER DEFINITIONS\r\nb\v\f\r\n",
       lines({"a", "MAIL FILTER DEFINITIONS", definition, "b"})},
      {"last line without a line feed", "a\nMAIL FILTER DEFINITIONS",
       lines({"a", "MAIL FILTER DEFINITIONS", definition})},
  };
  for (const cf_case& test : cases) {
    SCOPED_TRACE(test.name);
    mta_test::write_file(cf, test.before);
    install();
    EXPECT_EQ(mta_test::read_file(cf), test.after);
    EXPECT_FALSE(mta_test::exists(temp));
  }
  EXPECT_TRUE(logs.lines().empty());
}

TEST_F(cf_file, install_leaves_a_file_that_lists_the_filter_alone) {
  for (const char* listed : {"O InputMailFilters=a,TESLO", "O InputMailFilters=TESLOX"}) {
    SCOPED_TRACE(listed);
    std::string before = lines({"# Input mail filters  ", listed, "MAIL FILTER DEFINITIONS"});
    mta_test::write_file(cf, before);
    install();
    EXPECT_EQ(mta_test::read_file(cf), before);
    EXPECT_FALSE(mta_test::exists(temp));
  }
}

TEST_F(cf_file, second_install_does_not_list_the_filter_twice) {
  std::string before =
      lines({"# Input mail filters", "#O InputMailFilters", "MAIL FILTER DEFINITIONS"});
  mta_test::write_file(cf, before);
  install();
  std::string once = mta_test::read_file(cf);
  install();
  EXPECT_EQ(mta_test::read_file(cf), once);
}

TEST_F(cf_file, remove_writes_each_case_as_expected) {
  const std::vector<cf_case> cases = {
      {"own list: list, later milter options comment and macro options go",
       lines({"# Milter options", "# Input mail filters", "O InputMailFilters=TESLO",
              "# Milter options", connect_line, "#O Milter.macros.eoh", sender_line,
              "MAIL FILTER DEFINITIONS", definition, "XTESLO, S=unix:/var/run/teslo.sock, F=R",
              "end"}),
       lines({"# Milter options", "# Input mail filters", "#O Milter.macros.eoh",
              "MAIL FILTER DEFINITIONS", "end"})},
      {"last in another list", lines({"O InputMailFilters=a,TESLO", sender_line}),
       lines({"O InputMailFilters=a", sender_line})},
      {"first in another list", lines({"O InputMailFilters=TESLO,a", recipient_line}),
       lines({"O InputMailFilters=a", recipient_line})},
      {"after a blank: the comma stays", lines({"O InputMailFilters=a, TESLO"}),
       lines({"O InputMailFilters=a,"})},
      {"macro options before the list go",
       lines({sender_line, "O InputMailFilters=a,TESLO", recipient_line}),
       lines({"O InputMailFilters=a", recipient_line})},
      {"file that never held the filter",
       lines({"# Milter options", sender_line, "#O InputMailFilters", "x  "}),
       lines({"# Milter options", "#O InputMailFilters", "x"})},
      {"CR-LF line ends", "O InputMailFilters=TESLO\r\nkept \r\n", lines({"kept"})},
  };
  for (const cf_case& test : cases) {
    SCOPED_TRACE(test.name);
    mta_test::write_file(cf, test.before);
    remove();
    EXPECT_EQ(mta_test::read_file(cf), test.after);
    EXPECT_FALSE(mta_test::exists(temp));
  }
  EXPECT_TRUE(logs.lines().empty());
}

TEST_F(cf_file, install_then_remove_gives_back_the_trimmed_original) {
  const std::vector<std::string> originals = {
      "# Input mail filters\r\n#O InputMailFilters\r\n\r\n# CA directory \r\n##### MAIL FILTER "
      "DEFINITIONS\r\n#####\r\n",
      lines({"O InputMailFilters=a", "O Milter.macros.envfrom=i", "MAIL FILTER DEFINITIONS"}),
  };
  const std::vector<std::string> trimmed = {
      lines({"# Input mail filters", "#O InputMailFilters", "", "# CA directory",
             "##### MAIL FILTER DEFINITIONS", "#####"}),
      // Beside another filter, the macro options that installation added or
      // extended stay: that filter's list is retained.
      lines({"O InputMailFilters=a", recipient_line,
             "O Milter.macros.envfrom=i, {mail_addr}, {msg_size}", "MAIL FILTER DEFINITIONS"}),
  };
  for (std::size_t i = 0; i < originals.size(); ++i) {
    SCOPED_TRACE(i);
    mta_test::write_file(cf, originals[i]);
    install();
    EXPECT_NE(mta_test::read_file(cf), trimmed[i]);
    remove();
    EXPECT_EQ(mta_test::read_file(cf), trimmed[i]);
  }
}

TEST_F(cf_file, open_failures_log_and_leave_nothing) {
  install();
  remove();
  EXPECT_FALSE(mta_test::exists(cf));
  EXPECT_FALSE(mta_test::exists(temp));
  EXPECT_EQ(logs.lines(), (std::vector<fake_milter::logged_line>{
                              {LOG_ERR, "can not milter configuraiton"},
                              {LOG_ERR, "sendmail.cf configuration error"},
                          }));
}
