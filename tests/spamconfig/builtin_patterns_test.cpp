// What the built-in patterns match, as the HELO, DDNS and attachment checks
// see it.
#include <gtest/gtest.h>

#include <string>

#include "spamconfig/builtin_patterns.hpp"
#include "spamconfig/test_settings.hpp"

namespace {

// The index of the first DDNS pattern that matches, or -1.
int first_ddns_match(const char* name) {
  for (int index = 0; index < ddns_pattern_count; ++index) {
    if (pattern_matches(ddns_patterns[index], name)) return index + 1;
  }
  return -1;
}

}  // namespace

TEST(helo_pattern, flags_address_like_and_localhost_names) {
  compile_builtin_patterns();
  struct helo_case {
    const char* name;
    bool want;
  };
  const helo_case cases[] = {
      {"192.168.1.20", true},
      {"localhost", true},
      {"LOCALHOST", true},
      {"mail.localhost", false},
      {"ppp-10-20-30.example", true},
      {"host12345678.example", true},
      {"host1234567.example", false},
      {"mx.example.org", false},
      {"unknown", false},
      {"1.2.example", false},
  };
  for (const auto& c : cases) EXPECT_EQ(pattern_matches(helo_pattern, c.name), c.want) << c.name;
}

TEST(ddns_patterns, match_dynamic_looking_names_in_order) {
  compile_builtin_patterns();
  struct ddns_case {
    const char* name;
    int want;  // first matching pattern, -1 for none
  };
  const ddns_case cases[] = {
      {"dhcp-12-34.example.net", 1}, {"host12345.example.net", 2}, {"a.1b.example.co.jp", 3},
      {"dhcp1.example.net", 5},      {"mx.example.net", -1},       {"mail2.example.com", -1},
      {"[192.0.2.7]", -1},
  };
  for (const auto& c : cases) EXPECT_EQ(first_ddns_match(c.name), c.want) << c.name;
}

TEST(address_pattern, accepts_dotted_quads_only) {
  compile_builtin_patterns();
  EXPECT_TRUE(pattern_matches(address_pattern, "10.1.2.3"));
  EXPECT_TRUE(pattern_matches(address_pattern, "999.1.2.3"));
  EXPECT_FALSE(pattern_matches(address_pattern, "10.1.2.3.4"));
  EXPECT_FALSE(pattern_matches(address_pattern, "1234.1.2.3"));
  EXPECT_FALSE(pattern_matches(address_pattern, "host.example"));
}

TEST(disposition_pattern, matches_harmful_attachment_names) {
  compile_builtin_patterns();
  spam_config.disposition_pattern = default_disposition_pattern_text;
  compile_disposition_pattern(spam_config);
  struct line_case {
    const char* line;
    bool want;
  };
  const line_case cases[] = {
      {"Content-Disposition: attachment; filename=\"setup.exe\"", true},
      {"   filename=\"a.PIF\"", true},
      {"filename=run.bat", true},
      {"Content-Disposition: attachment; filename=\"notes.txt\"", false},
      {"filename=\"setup.exe.txt\"", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(pattern_matches(spam_config.disposition_regex, c.line), c.want) << c.line;
  }
  spam_config.disposition_pattern = nullptr;
  regfree(&spam_config.disposition_regex);
  spam_config.disposition_compiled = 0;
}
