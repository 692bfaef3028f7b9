// The teslo-check command line: which files it reads and the exit status,
// the worst of the two files' results.
#include "checker/teslo_check.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <unistd.h>

#include "checker/checker_files.hpp"
#include "copyrules/rule_files.hpp"

namespace {

using checker_test::has_text;
using copyrules_test::rule_dir;

// A rule file with one rule in `direction`.
std::string rules_with(const std::string& direction) {
  return std::string("<?xml version=\"1.0\"?>\n") +
         "<!DOCTYPE rules [<!ELEMENT rules ANY><!ELEMENT rule ANY><!ELEMENT domain ANY>"
         "<!ELEMENT mailaddr ANY><!ELEMENT direction ANY>]>\n"
         "<rules><rule><domain>a.test</domain><mailaddr>m@copy</mailaddr><direction>" +
         direction + "</direction></rule></rules>\n";
}

struct run_result {
  int status;
  std::string out;
  std::string err;
};

run_result run(const std::vector<std::string>& arguments) {
  std::ostringstream out;
  std::ostringstream err;
  int status = run_teslo_check(arguments, out, err);
  return {status, out.str(), err.str()};
}

}  // namespace

TEST(run_teslo_check, exit_status_is_the_worst_of_both_files) {
  rule_dir dir;
  const std::string good_conf = dir.write("good.conf", "spf eject\n");
  const std::string bad_conf = dir.write("bad.conf", "spff eject\n");
  const std::string good_xml = dir.write("good.xml", rules_with("S"));
  const std::string bad_xml = dir.write("bad.xml", rules_with("s"));
  const std::string broken_xml = dir.write("broken.xml", "<rules>");
  const std::string missing = dir.path() + "/missing";
  struct status_case {
    std::string conf, xml;
    int want;
  };
  const status_case cases[] = {
      {good_conf, good_xml, 0}, {bad_conf, good_xml, 1}, {good_conf, bad_xml, 1},
      {bad_conf, bad_xml, 1},   {missing, good_xml, 2},  {bad_conf, broken_xml, 2},
      {good_conf, missing, 2},
  };
  for (const status_case& c : cases) {
    SCOPED_TRACE(c.conf + " " + c.xml);
    run_result result = run({"-c", c.conf, "-r", c.xml});
    EXPECT_EQ(result.status, c.want) << result.out;
    EXPECT_TRUE(has_text(result.out, c.conf + ":"));
    EXPECT_TRUE(has_text(result.out, c.xml + ":")) << "both files are always checked";
  }
}

TEST(run_teslo_check, usage_errors_are_status_2_and_help_is_0) {
  const std::vector<std::string> wrong[] = {{"-x"}, {"-c"}, {"-r"}, {"-c", ""}, {"file"}};
  for (const auto& arguments : wrong) {
    run_result result = run(arguments);
    EXPECT_EQ(result.status, 2);
    EXPECT_TRUE(has_text(result.err,
                         "usage: teslo-check [--reload] [-c spam-check-file] [-r copy-rule-file]"));
    EXPECT_EQ(result.out, "");
  }
  run_result help = run({"-h"});
  EXPECT_EQ(help.status, 0);
  EXPECT_TRUE(has_text(help.out, "usage: teslo-check"));
  run_result version = run({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, "teslo-check " TESLO_VERSION "\n");
}

// One file named alone is the only one checked; --reload (what the unit's
// ExecReload runs) also refuses a rule file that would load no rule.
TEST(run_teslo_check, one_file_named_alone_and_the_reload_check) {
  rule_dir dir;
  const std::string bad_conf = dir.write("bad.conf", "spff eject\n");
  const std::string good_xml = dir.write("good.xml", rules_with("S"));
  const std::string no_rules = dir.write("empty.xml",
                                         "<?xml version=\"1.0\"?>\n"
                                         "<!DOCTYPE rules [<!ELEMENT rules ANY>]>\n<rules/>\n");
  const std::string broken_xml = dir.write("broken.xml", "<rules>");
  struct named_case {
    std::vector<std::string> arguments;
    int want;
    std::string not_read;
  };
  const named_case cases[] = {
      {{"-c", bad_conf}, 1, "teslo.xml"},
      {{"-r", good_xml}, 0, "orvane.conf"},
      {{"-r", no_rules}, 0, "orvane.conf"},
      {{"--reload", "-r", good_xml}, 0, "orvane.conf"},
      {{"--reload", "-r", no_rules}, 1, "orvane.conf"},
      {{"--reload", "-r", broken_xml}, 2, "orvane.conf"},
  };
  for (const named_case& c : cases) {
    run_result result = run(c.arguments);
    SCOPED_TRACE(result.out);
    EXPECT_EQ(result.status, c.want);
    EXPECT_FALSE(has_text(result.out, c.not_read));
  }
}

TEST(run_teslo_check, shipped_examples_are_clean) {
  // The example names its DTD by the installed path; where that is not
  // there yet, the checker reads the DTD beside the example and says so.
  const std::string root = checker_test::source_root();
  const std::string xml = root + "/etc/teslo/teslo.xml";
  run_result result = run({"-c", root + "/etc/orvane/orvane.conf", "-r", xml});
  EXPECT_EQ(result.status, 0) << result.out;
  EXPECT_TRUE(has_text(result.out, xml + ": 4 copy rules, 0 problems"));
  EXPECT_TRUE(has_text(result.out, "teslo-check: OK, teslo takes every line as written"));
  if (access("/etc/mail/teslo/teslo.dtd", F_OK) != 0) {
    EXPECT_TRUE(has_text(result.out,
                         "its DTD /etc/mail/teslo/teslo.dtd does not exist (yet); "
                         "checked against " +
                             root + "/etc/teslo/teslo.dtd"))
        << result.out;
  }
}
