#include "copyrules/load_copy_rules.hpp"

#include <gtest/gtest.h>

#include <exception>
#include <fstream>
#include <sstream>
#include <string>

#include "copyrules/rule_files.hpp"

namespace {

using copyrules_test::permissive_document;
using copyrules_test::rule_dir;

struct walk_case {
  const char* what;
  const char* body;  // content of the root element
  copy_rule_table want;
};

const copy_rule D_M_S{"example.com>", "copy@archive.test", "S"};

const walk_case walk_cases[] = {
    {"wrapper with the three fields",
     "<rule><domain>example.com</domain><mailaddr>copy@archive.test</mailaddr>"
     "<direction>S</direction></rule>",
     {D_M_S}},
    {"fields in another order",
     "<rule><direction>S</direction><domain>example.com</domain>"
     "<mailaddr>copy@archive.test</mailaddr></rule>",
     {D_M_S}},
    {"fields as siblings under the root",
     "<domain>example.com</domain><mailaddr>copy@archive.test</mailaddr><direction>S</direction>",
     {D_M_S}},
    {"white space around fields and between elements",
     "\n  <rule>\n    <domain>\n\t example.com \r\n</domain>\n"
     "    <mailaddr>  copy@archive.test\t</mailaddr>\n    <direction> S </direction>\n  </rule>\n",
     {D_M_S}},
    {"ALL is held as ALL>",
     "<rule><domain>ALL</domain><mailaddr>all@archive.test</mailaddr><direction>SR</direction></"
     "rule>",
     {{"ALL>", "all@archive.test", "SR"}}},
    {"element name differing in case is not a field",
     "<rule><Domain>example.com</Domain><mailaddr>copy@archive.test</mailaddr>"
     "<direction>S</direction></rule>",
     {}},
    {"CDATA field is ignored",
     "<rule><domain><![CDATA[example.com]]></domain><mailaddr>copy@archive.test</mailaddr>"
     "<direction>S</direction></rule>",
     {}},
    {"rule completes across wrappers",
     "<rule><domain>a.test</domain><mailaddr>a@archive.test</mailaddr></rule>"
     "<rule><direction>R</direction><domain>b.test</domain><mailaddr>b@archive.test</mailaddr></"
     "rule>",
     {{"a.test>", "a@archive.test", "R"}}},
    {"text after a child element belongs to the child",
     "<rule><domain><other/>example.com</domain><mailaddr>copy@archive.test</mailaddr>"
     "<direction>S</direction></rule>",
     {}},
    {"a comment keeps the current element",
     "<rule><domain><!-- note -->example.com</domain><mailaddr>copy@archive.test</mailaddr>"
     "<direction>S</direction></rule>",
     {D_M_S}},
    {"a processing instruction becomes the current element",
     "<rule><other><?domain ignored?>example.com</other><mailaddr>copy@archive.test</mailaddr>"
     "<direction>S</direction></rule>",
     {D_M_S}},
    {"a repeated field replaces the earlier one",
     "<rule><domain>old.test</domain><domain>example.com</domain>"
     "<mailaddr>copy@archive.test</mailaddr><direction>S</direction></rule>",
     {D_M_S}},
    {"identical rules are both kept",
     "<rule><domain>example.com</domain><mailaddr>copy@archive.test</mailaddr><direction>S</"
     "direction></rule>"
     "<rule><domain>example.com</domain><mailaddr>copy@archive.test</mailaddr><direction>S</"
     "direction></rule>",
     {D_M_S, D_M_S}},
    {"entities are substituted and attributes ignored",
     "<rule title=\"domain\"><domain>&corp;</domain><mailaddr>copy@archive.test</mailaddr>"
     "<direction>S</direction></rule>",
     {D_M_S}},
    {"direction stored as written",
     "<rule><domain>example.com</domain><mailaddr>copy@archive.test</mailaddr>"
     "<direction>sr</direction></rule>",
     {{"example.com>", "copy@archive.test", "sr"}}},
};

TEST(load_copy_rules, walks_documents_into_rules) {
  rule_dir dir;
  for (const walk_case& c : walk_cases) {
    std::string path = dir.write("teslo.xml", permissive_document(c.body));
    ASSERT_NO_THROW(load_copy_rules(path.c_str())) << c.what;
    EXPECT_EQ(*current_copy_rules(), c.want) << c.what;
  }
  reset_copy_rules();
}

struct broken_case {
  const char* what;
  const char* content;  // nullptr: no file at all
};

const broken_case broken_cases[] = {
    {"missing file", nullptr},
    {"no document type declaration",
     "<?xml version=\"1.0\"?><rules><domain>example.com</domain>"
     "<mailaddr>copy@archive.test</mailaddr><direction>S</direction></rules>"},
    {"not well-formed", "<?xml version=\"1.0\"?><!DOCTYPE rules [<!ELEMENT rules ANY>]><rules>"},
    {"element not declared",
     "<?xml version=\"1.0\"?><!DOCTYPE rules [<!ELEMENT rules ANY>]>"
     "<rules><domain>example.com</domain></rules>"},
};

TEST(load_copy_rules, broken_file_throws_parser_text_and_leaves_table_empty) {
  rule_dir dir;
  copyrules_test::expected_parser_errors quiet;
  std::string good = dir.write(
      "good.xml", permissive_document("<domain>example.com</domain><mailaddr>copy@archive.test"
                                      "</mailaddr><direction>S</direction>"));
  for (const broken_case& c : broken_cases) {
    load_copy_rules(good.c_str());
    ASSERT_EQ(current_copy_rules()->size(), 1u);
    std::string path = dir.path() + "/broken.xml";
    if (c.content != nullptr)
      path = dir.write("broken.xml", c.content);
    else
      std::remove(path.c_str());
    try {
      load_copy_rules(path.c_str());
      ADD_FAILURE() << c.what << ": no exception";
    } catch (const std::exception& error) {
      EXPECT_STRNE(error.what(), "") << c.what;
    }
    EXPECT_TRUE(current_copy_rules()->empty()) << c.what;
  }
}

TEST(load_copy_rules, reload_replaces_rules_without_duplicates) {
  rule_dir dir;
  std::string two = permissive_document(
      "<rule><domain>a.test</domain><mailaddr>a@archive.test</mailaddr><direction>S</direction></"
      "rule>"
      "<rule><domain>b.test</domain><mailaddr>b@archive.test</mailaddr><direction>R</direction></"
      "rule>");
  std::string path = dir.write("teslo.xml", two);
  load_copy_rules(path.c_str());
  load_copy_rules(path.c_str());
  EXPECT_EQ(current_copy_rules()->size(), 2u);

  // A field left pending by one load never completes a rule of the next.
  dir.write("teslo.xml",
            permissive_document("<domain>c.test</domain><mailaddr>c@archive.test</mailaddr>"));
  load_copy_rules(path.c_str());
  EXPECT_TRUE(current_copy_rules()->empty());
  dir.write("teslo.xml", permissive_document("<direction>S</direction>"));
  load_copy_rules(path.c_str());
  EXPECT_TRUE(current_copy_rules()->empty());

  dir.write("teslo.xml", permissive_document("<rule><domain>b.test</domain><mailaddr>b@archive.test"
                                             "</mailaddr><direction>R</direction></rule>"));
  load_copy_rules(path.c_str());
  copy_rule_table want{{"b.test>", "b@archive.test", "R"}};
  EXPECT_EQ(*current_copy_rules(), want);
  reset_copy_rules();
}

TEST(load_copy_rules, snapshot_survives_a_later_load) {
  rule_dir dir;
  std::string path = dir.write(
      "teslo.xml",
      permissive_document(
          "<domain>a.test</domain><mailaddr>a@archive.test</mailaddr><direction>S</direction>"));
  load_copy_rules(path.c_str());
  copy_rule_snapshot held = current_copy_rules();
  reset_copy_rules();
  ASSERT_EQ(held->size(), 1u);
  EXPECT_EQ((*held)[0].domain, "a.test>");
  EXPECT_TRUE(current_copy_rules()->empty());
}

// The repository root, from this file's path (tests/copyrules/<file>).
std::string source_root_of(const std::string& file) {
  return file.substr(0, file.rfind("/tests/copyrules/"));
}

std::string read_file(const std::string& path) {
  std::ifstream in(path);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

// The shipped example validates against the shipped DTD and has a rule of
// every direction.
TEST(load_copy_rules, shipped_example_loads_with_every_direction) {
  const char* source = std::getenv("TESLO_SOURCE_DIR");
  std::string root = source != nullptr ? source : source_root_of(__FILE__);
  std::string example = read_file(root + "/etc/teslo/teslo.xml");
  std::string dtd = read_file(root + "/etc/teslo/teslo.dtd");
  ASSERT_FALSE(example.empty());
  ASSERT_FALSE(dtd.empty());

  rule_dir dir;
  dir.write("teslo.dtd", dtd);
  const std::string installed = "\"/etc/mail/teslo/teslo.dtd\"";
  std::string::size_type at = example.find(installed);
  ASSERT_NE(at, std::string::npos) << "the example declares the installed DTD";
  example.replace(at, installed.size(), "\"" + dir.path() + "/teslo.dtd\"");
  std::string path = dir.write("teslo.xml", example);

  load_copy_rules(path.c_str());
  copy_rule_snapshot rules = current_copy_rules();
  for (const char* direction : {"S", "R", "SR", "SA"}) {
    bool found = false;
    for (const copy_rule& rule : *rules) found = found || rule.direction_text == direction;
    EXPECT_TRUE(found) << "direction " << direction;
  }
  reset_copy_rules();
}

}  // namespace
