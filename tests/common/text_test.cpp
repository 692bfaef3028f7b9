#include "common/text.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

TEST(copy_bounded, copies_short_text_whole) {
  char dest[8];
  EXPECT_TRUE(copy_bounded(dest, "abc"));
  EXPECT_STREQ(dest, "abc");
}

TEST(copy_bounded, stops_at_limit_and_terminates) {
  char dest[5];
  std::memset(dest, 'x', sizeof dest);
  EXPECT_FALSE(copy_bounded(dest, "abcdefgh"));
  EXPECT_STREQ(dest, "abcd");
}

TEST(copy_bounded, exact_fit_is_whole) {
  char dest[4];
  EXPECT_TRUE(copy_bounded(dest, "abc"));
  EXPECT_STREQ(dest, "abc");
}

TEST(copy_bounded, null_source_gives_empty_text) {
  char dest[4] = "old";
  EXPECT_TRUE(copy_bounded(dest, nullptr));
  EXPECT_STREQ(dest, "");
}

TEST(copy_bounded, helo_of_300_characters_keeps_127) {
  char dest[128];
  std::string helo(300, 'h');
  copy_bounded(dest, helo.c_str());
  EXPECT_EQ(std::strlen(dest), 127u);
}

TEST(lower_ascii, lowers_only_ascii_letters) {
  char text[] = "MiXeD-123_\xC3\x84@Example.COM";
  lower_ascii(text);
  EXPECT_STREQ(text, "mixed-123_\xC3\x84@example.com");
}

TEST(same_text_ignoring_ascii_case, folds_only_ascii_letters) {
  struct case_t {
    const char* left;
    const char* right;
    bool same;
  } cases[] = {
      {"Content-Type", "content-type", true},
      {"CC", "cc", true},
      {"To", "Tox", false},
      {"", "", true},
      {"To", "", false},
      {"\xC4", "\xE4", false},  // Latin-1 A and a umlaut
      {"[", "{", false},
      {"@", "`", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.left) + " | " + c.right);
    EXPECT_EQ(same_text_ignoring_ascii_case(c.left, c.right), c.same);
  }
}
