// safe_reply_text: reply texts that carry client input stay usable.
#include "message/reply_text.hpp"

#include <gtest/gtest.h>

#include <string>

TEST(safe_reply_text, doubles_percent_and_drops_control_bytes) {
  struct row {
    std::string text;
    std::string want;
  };
  const row rows[] = {
      {"plain text", "plain text"},
      {"sender:a%b@example.org", "sender:a%%b@example.org"},
      {"%%", "%%%%"},
      {"a\r\nb", "ab"},
      {"tab\there\x7f", "tabhere"},
      {"caf\xc3\xa9", "caf\xc3\xa9"},
      {"", ""},
  };
  for (const auto& r : rows) {
    char out[reply_text_max + 1];
    EXPECT_TRUE(safe_reply_text(out, sizeof out, r.text.c_str()));
    EXPECT_EQ(out, r.want);
  }
}

TEST(safe_reply_text, cuts_long_text_without_splitting_doubled_percent) {
  char out[8];
  EXPECT_FALSE(safe_reply_text(out, sizeof out, "abcdef%gh"));
  EXPECT_STREQ(out, "abcdef");  // "%%" would not fit whole
  char big[2000];
  std::string many(1500, '%');
  EXPECT_FALSE(safe_reply_text(big, sizeof big, many.c_str()));
  EXPECT_EQ(std::string(big), std::string(reply_text_max, '%'));
}
