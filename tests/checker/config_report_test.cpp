// The spam-check part of teslo-check: every line the loader would skip or
// misread is named with its line number and reason, the exit status follows,
// and the observer never changes what the daemon loads.
#include "checker/config_report.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>

#include "checker/checker_files.hpp"
#include "copyrules/rule_files.hpp"
#include "spamconfig/builtin_patterns.hpp"
#include "spamconfig/config_loader.hpp"
#include "spamconfig/test_settings.hpp"

namespace {

using checker_test::checked;
using checker_test::has_lines;
using checker_test::has_text;
using checker_test::report_lines;
using copyrules_test::rule_dir;

checked check_text(const std::string& text) {
  rule_dir dir;
  std::string path = dir.write("orvane.conf", text);
  std::ostringstream out;
  check_status status = check_spam_config_file(path, out);
  return {status, report_lines(out.str(), path)};
}

struct line_case {
  std::string file;
  std::vector<std::string> want;  // report lines, path written as F
};

const line_case ignored_lines[] = {
    {"spff eject\n", {"F:1: unknown key \"spff\": line ignored"}},
    {"# fine\n\nspf reject\n",
     {"F:3: value \"reject\" not accepted for spf (accepted: off, header, eject or quarantine): "
      "line ignored"}},
    {"spf\n", {"F:1: key \"spf\" has no value: line ignored"}},
    {"tag [JUNK] more words\n", {"F:1: text after the value ignored: \"more words\""}},
    {"refusefail OFF\n",
     {"F:1: value \"OFF\" not accepted for refusefail (accepted: only \"off\", in lower case): "
      "line ignored"}},
    {"quarantine off\n",
     {"F:1: value \"off\" not accepted for quarantine (accepted: only \"on\", in lower case): "
      "line ignored"}},
    {"syslog kern\n",
     {"F:1: value \"kern\" not accepted for syslog (accepted: daemon, mail or local0 to local7): "
      "line ignored"}},
    {"blacklistip 1.2.3.256\n",
     {"F:1: address entry \"1.2.3.256\" refused for blacklistip (a part above 255, or the "
      "broadcast address 255.255.255.255): line ignored"}},
    {"whitelistip 255.255.255.255\n",
     {"F:1: address entry \"255.255.255.255\" refused for whitelistip (a part above 255, or the "
      "broadcast address 255.255.255.255): line ignored"}},
    {"blacklistip host.example\n",
     {"F:1: address entry \"host.example\" refused for blacklistip (not a dotted IPv4 address): "
      "line ignored"}},
    {"whitelistip /24\n",
     {"F:1: address entry \"/24\" refused for whitelistip (no address before the \"/\"): line "
      "ignored"}},
    {"whitelistip 10.0.0.0/abc\n",
     {"F:1: whitelistip \"10.0.0.0/abc\": prefix \"/abc\" is read as /0, which matches every "
      "address"}},
    {"whitelistip 10.1.2.3/99\n",
     {"F:1: whitelistip \"10.1.2.3/99\": prefix \"/99\" is read as /32"}},
    {"ttl 10x\n", {"F:1: ttl \"10x\": read as 10 seconds"}},
    {"ttl ten\n", {"F:1: ttl \"ten\": read as 0 seconds"}},
    {"tag " + std::string(130, 'x') + "\n",
     {"F:1: word longer than 127 characters cut at 127: the value"}},
    {std::string(130, 'k') + " v\n",
     {"F:1: word longer than 127 characters cut at 127: the key; its remainder is read as the "
      "value",
      "F:1: text after the value ignored: \"v\"",
      "F:1: unknown key \"" + std::string(40, 'k') + "...\": line ignored"}},
    {"# " + std::string(300, '-') + "\nspf eject\n",
     {"F:1: line longer than 254 characters: everything after character 254 is ignored"}},
    {"harmfulext exe,,js\n",
     {"F:1: value \"exe,,js\" not accepted for harmfulext (an empty entry between commas; "
      "accepted: extensions such as \"exe, js, iso\"): line ignored"}},
    {"harmfulext exe, *.js\n",
     {"F:1: value \"exe, *.js\" not accepted for harmfulext (\"*.js\" is not an extension "
      "(letters and digits, at most 16); accepted: extensions such as \"exe, js, iso\"): line "
      "ignored"}},
    {"harmfulext exe,\n",
     {"F:1: value \"exe,\" not accepted for harmfulext (an empty entry after the last comma; "
      "accepted: extensions such as \"exe, js, iso\"): line ignored"}},
    {"helocheck header\nspff eject\nddns bogus\n",
     {"F:2: unknown key \"spff\": line ignored",
      "F:3: value \"bogus\" not accepted for ddns (accepted: off, header, eject or quarantine): "
      "line ignored",
      "F: 2 problems; settings in force:"}},
};

}  // namespace

TEST(check_spam_config_file, names_every_ignored_line_with_its_reason) {
  for (const line_case& c : ignored_lines) {
    SCOPED_TRACE(c.file);
    checked result = check_text(c.file);
    EXPECT_EQ(result.status, check_status::ignored);
    EXPECT_TRUE(has_lines(result.lines, c.want));
  }
}

TEST(check_spam_config_file, lines_taken_as_written_are_clean) {
  const char* const clean_files[] = {
      "",
      "# only a comment\n\n   \n",
      "SPF Eject\nDDNS quarantine # comment\nhelocheck HEADER\n",
      "whitelistip 10.1.2.0/24\nblacklistip 192.0.2.7\nwhitelistip 10.0.0.0/0\n",
      "whitelistptr .Example.Net\nwhitelistfrom Example.COM\nwhitelistto boss@\n",
      "ttl 30m\nttl 2D\nttl 45\nttl 90s\nttl 0\nspfcachesize 5000\n",
      "refusefail off\ntagsubject off\naddheader off\nquarantine on\nsyslog LOCAL3\n",
      "tag [JUNK]\ndnsbldou bl.example\nuser milter\nsocket inet:1234\nquarantinebox spam\n",
      "harmfulext exe, .JS, iso   # a comment\nharmfulext exe scr\n",
  };
  for (const char* file : clean_files) {
    SCOPED_TRACE(file);
    checked result = check_text(file);
    EXPECT_EQ(result.status, check_status::clean);
    EXPECT_TRUE(has_lines(result.lines, {"F: 0 problems; settings in force:"}));
  }
}

TEST(check_spam_config_file, shows_the_settings_that_would_be_in_force) {
  checked result = check_text("spf eject\nttl 0\nwhitelistip 10.0.0.1\nwhitelistip 10.0.0.2\n");
  EXPECT_TRUE(has_lines(result.lines,
                        {"  checks: helocheck off, tocheck off, spf eject, ddns off, "
                         "disposition off, dnsblserv off",
                         "  dnsbldou \"zen.spamhaus.org\", ttl 0 seconds (no SPF cache), "
                         "spfcachesize 1000000, spftimeout 20, refusefail on, tag \"[SPAM]\", "
                         "tagsubject on",
                         "  lists: whitelistip 2, blacklistip 0, whitelistptr 0, "
                         "blacklistptr 0, whitelistfrom 0, whitelistto 0",
                         "  harmfulext pif exe com scr lnk cpl vbs hta bat js jse wsf wsh vbe msi "
                         "iso img vhd vhdx ps1 jar cmd reg"}));
}

TEST(check_spam_config_file, unreadable_file_is_status_2_and_leaves_no_settings) {
  rule_dir dir;
  std::ostringstream out;
  EXPECT_EQ(check_spam_config_file(dir.path() + "/missing.conf", out), check_status::unreadable);
  EXPECT_TRUE(has_text(out.str(), "missing.conf: cannot read: No such file"));
  std::ostringstream directory_out;
  EXPECT_EQ(check_spam_config_file(dir.path(), directory_out), check_status::unreadable);
  EXPECT_TRUE(has_text(directory_out.str(), "Is a directory"));
  EXPECT_EQ(spam_config.tag, nullptr);
  EXPECT_EQ(spam_config.whitelistip, nullptr);
}

TEST(check_spam_config_file, shipped_example_is_clean) {
  std::ostringstream out;
  EXPECT_EQ(check_spam_config_file(checker_test::source_root() + "/etc/orvane/orvane.conf", out),
            check_status::clean)
      << out.str();
}

// Loading with an observer must give exactly what the daemon's own load
// gives, whatever the observer hears.
TEST(load_spam_config, observer_changes_nothing_that_is_loaded) {
  rule_dir dir;
  std::string path =
      dir.write("orvane.conf", "spf eject extra\nspff x\ntag " + std::string(300, 'y') +
                                   "\nwhitelistip 10.0.0.0/abc\nblacklistip 1.2.3.256\nttl 2h\n"
                                   "syslog local3\n");
  compile_builtin_patterns();
  auto snapshot = [] {
    std::ostringstream text;
    text << spam_config.spf << '|' << spam_config.tag << '|' << spam_config.ttl << '|'
         << spam_config.syslog_facility << '|' << (spam_config.blacklistip == nullptr) << '|'
         << (spam_config.whitelistip != nullptr ? spam_config.whitelistip->prefix : 99);
    return text.str();
  };
  free_spam_config(spam_config);
  std::memset(&spam_config, 0, sizeof spam_config);
  ASSERT_TRUE(load_test_settings(path.c_str()));
  std::string plain = snapshot();
  free_spam_config(spam_config);
  std::memset(&spam_config, 0, sizeof spam_config);
  int heard = 0;
  ASSERT_TRUE(load_test_settings(path.c_str(), [&](const config_line_report&) { ++heard; }));
  EXPECT_EQ(snapshot(), plain);
  EXPECT_EQ(heard, 6);
  free_spam_config(spam_config);
  std::memset(&spam_config, 0, sizeof spam_config);
}
