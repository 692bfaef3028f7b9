// The copy-rule part of teslo-check: every rule as loaded with its line,
// rules that can never fire, text the walk sets aside, fields that complete
// no rule, and XML errors with status 2.
#include "checker/rule_report.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "checker/checker_files.hpp"
#include "copyrules/rule_files.hpp"

namespace {

using checker_test::checked;
using checker_test::has_lines;
using checker_test::has_text;
using checker_test::report_lines;
using copyrules_test::rule_dir;

// A valid document whose body starts on line 4.
std::string document(const std::string& body) {
  return "<?xml version=\"1.0\"?>\n"
         "<!DOCTYPE rules [<!ELEMENT rules ANY><!ELEMENT rule ANY><!ELEMENT domain ANY>"
         "<!ELEMENT mailaddr ANY><!ELEMENT direction ANY><!ELEMENT note ANY>]>\n"
         "<rules>\n" +
         body + "</rules>\n";
}

checked check_xml(const std::string& text) {
  rule_dir dir;
  std::string path = dir.write("teslo.xml", text);
  std::ostringstream out;
  check_status status = check_copy_rule_file(path, out);
  return {status, report_lines(out.str(), path)};
}

std::string rule(const std::string& domain, const std::string& mailaddr,
                 const std::string& direction) {
  return "<rule><domain>" + domain + "</domain><mailaddr>" + mailaddr + "</mailaddr><direction>" +
         direction + "</direction></rule>\n";
}

struct rule_case {
  const char* what;
  std::string body;
  check_status status;
  std::vector<std::string> want;
};

const rule_case rule_cases[] = {
    {"every direction, listed with the line that completed it",
     rule("a.test", "s@copy", "S") + rule("b.test", "r@copy", "R") +
         rule("c@x.test", "sr@copy", "SR") + rule("d.test", "sa@copy", "SA"),
     check_status::clean,
     {"F:4: rule 1: domain \"a.test\", mailaddr \"s@copy\", direction \"S\": a copy once when "
      "the sender matches",
      "F:5: rule 2: domain \"b.test\", mailaddr \"r@copy\", direction \"R\": a copy for every "
      "recipient that matches",
      "F:6: rule 3: domain \"c@x.test\", mailaddr \"sr@copy\", direction \"SR\": a copy when the "
      "sender matches and one for every recipient that matches",
      "F:7: rule 4: domain \"d.test\", mailaddr \"sa@copy\", direction \"SA\": a copy for every "
      "recipient that matches, if the sender matches too",
      "F: 4 copy rules, 0 problems"}},
    {"fields are shown trimmed",
     "<rule>\n  <domain>  a.test\t</domain>\n  <mailaddr> m@copy </mailaddr>\n"
     "  <direction> R </direction>\n</rule>\n",
     check_status::clean,
     {"F:7: rule 1: domain \"a.test\", mailaddr \"m@copy\", direction \"R\": a copy for every "
      "recipient that matches"}},
    {"a lower-case direction never fires",
     rule("a.test", "m@copy", "sr"),
     check_status::ignored,
     {"F:4: rule 1 can never fire: direction \"sr\" is not S, R, SR or SA (exactly, in capitals)",
      "F: 1 copy rule, 1 problem"}},
    {"an unknown direction never fires",
     rule("a.test", "m@copy", "RS"),
     check_status::ignored,
     {"F:4: rule 1 can never fire: direction \"RS\" is not S, R, SR or SA (exactly, in capitals)"}},
    {"a copy address over 512 characters never fires",
     rule("a.test", std::string(513, 'm'), "S"),
     check_status::ignored,
     {"F:4: rule 1 can never fire: mailaddr has 513 characters, more than 512: a message that the "
      "rule matches is accepted without this rule's copy and without those of every later rule"}},
    {"a copy address of exactly 512 characters is fine",
     rule("a.test", std::string(512, 'm'), "S"),
     check_status::clean,
     {"F: 1 copy rule, 0 problems"}},
    {"a domain ending in ALL matches every address",
     rule("SMALL", "m@copy", "S") + rule("ALL", "m@copy", "R"),
     check_status::clean,
     {"F:4: rule 1 matches every address (its domain ends in \"ALL\")",
      "F:5: rule 2 matches every address (its domain is ALL)"}},
    {"text under another element is ignored",
     "<note>keep this</note>\n" + rule("a.test", "m@copy", "S"),
     check_status::ignored,
     {"F:4: text \"keep this\" under <note> is ignored: only <domain>, <mailaddr> and "
      "<direction> are read",
      "F: 1 copy rule, 1 problem"}},
    {"a CDATA field is ignored and leaves the rule incomplete",
     "<rule><domain><![CDATA[a.test]]></domain>\n<mailaddr>m@copy</mailaddr>"
     "<direction>S</direction></rule>\n",
     check_status::ignored,
     {"F:4: CDATA \"a.test\" is ignored: CDATA sections are never read, write the text plainly",
      "F:5: <mailaddr> \"m@copy\" completes no rule: no <domain> follows it",
      "F:5: <direction> \"S\" completes no rule: no <domain> follows it",
      "F: 0 copy rules, 3 problems"}},
    {"a field repeated before its rule completes replaces the earlier one",
     "<rule><domain>old.test</domain>\n<domain>new.test</domain><mailaddr>m@copy</mailaddr>"
     "<direction>S</direction></rule>\n",
     check_status::ignored,
     {"F:4: <domain> \"old.test\" is replaced by a later one before its rule completes",
      "F:5: rule 1: domain \"new.test\", mailaddr \"m@copy\", direction \"S\": a copy once when "
      "the sender matches"}},
    {"a wrapper without direction completes with the next one's direction",
     "<rule><domain>a.test</domain><mailaddr>a@copy</mailaddr></rule>\n"
     "<rule><direction>R</direction><domain>b.test</domain><mailaddr>b@copy</mailaddr></rule>\n",
     check_status::ignored,
     {"F:5: rule 1: domain \"a.test\", mailaddr \"a@copy\", direction \"R\": a copy for every "
      "recipient that matches",
      "F:5: <domain> \"b.test\" completes no rule: no <direction> follows it",
      "F:5: <mailaddr> \"b@copy\" completes no rule: no <direction> follows it"}},
    {"no rules at all is clean", "", check_status::clean, {"F: 0 copy rules, 0 problems"}},
};

}  // namespace

TEST(check_copy_rule_file, lists_rules_and_what_teslo_would_ignore) {
  for (const rule_case& c : rule_cases) {
    SCOPED_TRACE(c.what);
    checked result = check_xml(document(c.body));
    EXPECT_EQ(result.status, c.status);
    EXPECT_TRUE(has_lines(result.lines, c.want));
  }
}

TEST(check_copy_rule_file, xml_errors_are_status_2_with_the_parser_text) {
  struct error_case {
    const char* what;
    std::string text;
    const char* want;
  };
  const error_case cases[] = {
      {"no DTD", "<?xml version=\"1.0\"?>\n<rules>" + rule("a", "b", "S") + "</rules>\n",
       "no DTD found"},
      {"not valid against the DTD", document("<bogus/>\n"), "No declaration for element bogus"},
      {"not well-formed", document("<rule><domain>a</rule>\n"), "Opening and ending tag mismatch"},
  };
  for (const error_case& c : cases) {
    SCOPED_TRACE(c.what);
    checked result = check_xml(c.text);
    EXPECT_EQ(result.status, check_status::unreadable);
    ASSERT_FALSE(result.lines.empty());
    EXPECT_EQ(result.lines[0], "F: XML error, teslo would load no copy rule:");
    std::string all;
    for (const std::string& line : result.lines) all += line + "\n";
    EXPECT_TRUE(has_text(all, c.want));
  }
}

TEST(check_copy_rule_file, a_file_that_cannot_be_opened_is_named_so) {
  rule_dir dir;
  const std::pair<std::string, const char*> cases[] = {
      {dir.path() + "/missing.xml", "No such file or directory"}, {dir.path(), "Is a directory"}};
  for (const auto& [path, reason] : cases) {
    std::ostringstream out;
    EXPECT_EQ(check_copy_rule_file(path, out), check_status::unreadable);
    EXPECT_EQ(out.str(), path + ": cannot read: " + reason + " (teslo would load no copy rule)\n");
  }
}

TEST(rule_never_fires, only_the_four_directions_and_short_addresses_fire) {
  struct fire_case {
    const char* direction;
    std::size_t mailaddr_length;
    bool fires;
  };
  const fire_case cases[] = {
      {"S", 1, true},  {"R", 1, true},   {"SR", 1, true},   {"SA", 1, true},
      {"s", 1, false}, {"Sa", 1, false}, {"RS", 1, false},  {"SRA", 1, false},
      {"X", 1, false}, {"S", 512, true}, {"S", 513, false}, {"SA", 600, false},
  };
  for (const fire_case& c : cases) {
    SCOPED_TRACE(std::string(c.direction) + " " + std::to_string(c.mailaddr_length));
    copy_rule rule{"a.test>", std::string(c.mailaddr_length, 'm'), c.direction};
    EXPECT_EQ(!rule_never_fires(rule).has_value(), c.fires);
  }
}
