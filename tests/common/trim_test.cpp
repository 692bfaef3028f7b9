#include "common/trim.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

struct trim_case {
  const char* input;
  const char* both;
  const char* right;
  const char* left;
};

const trim_case trim_cases[] = {
    {"", "", "", ""},
    {"abc", "abc", "abc", "abc"},
    {" \f\n\r\t\vabc \f\n\r\t\v", "abc", " \f\n\r\t\vabc", "abc \f\n\r\t\v"},
    {" \t\r\n", "", "", ""},
    {"  a b  ", "a b", "  a b", "a b  "},
    {"x\r\n", "x", "x", "x\r\n"},
    {"\xc3\xa9 ", "\xc3\xa9", "\xc3\xa9", "\xc3\xa9 "},
};

TEST(trim, strips_the_six_characters_from_the_chosen_ends) {
  for (const trim_case& c : trim_cases) {
    std::string both = c.input, right = c.input, left = c.input;
    trim(both, trim_chars);
    trim_right(right, trim_chars);
    trim_left(left, trim_chars);
    EXPECT_EQ(both, c.both) << "input '" << c.input << "'";
    EXPECT_EQ(right, c.right) << "input '" << c.input << "'";
    EXPECT_EQ(left, c.left) << "input '" << c.input << "'";

    char buffer[64];
    (void)std::snprintf(buffer, sizeof buffer, "%s", c.input);
    trim(buffer, trim_chars);
    EXPECT_STREQ(buffer, c.both) << "input '" << c.input << "'";
    (void)std::snprintf(buffer, sizeof buffer, "%s", c.input);
    trim_right(buffer, trim_chars);
    EXPECT_STREQ(buffer, c.right) << "input '" << c.input << "'";
    (void)std::snprintf(buffer, sizeof buffer, "%s", c.input);
    trim_left(buffer, trim_chars);
    EXPECT_STREQ(buffer, c.left) << "input '" << c.input << "'";
  }
}

TEST(trim, keeps_characters_outside_the_set) {
  std::string text = "\x01 a\x1f";
  trim(text, trim_chars);
  EXPECT_EQ(text, "\x01 a\x1f");
}

}  // namespace
