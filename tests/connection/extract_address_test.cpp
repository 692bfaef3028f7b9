// Extracting the address from SMTP envelope arguments.
#include <gtest/gtest.h>

#include <string>

#include "connection/extract_address.hpp"

TEST(extract_address, takes_text_between_first_open_and_last_close_bracket) {
  struct address_case {
    const char* raw;
    const char* want;  // nullptr: extraction fails
  };
  const address_case cases[] = {
      {"<Alice@Example.org>", "Alice@Example.org"},
      {"From <a@b> SIZE=10", "a@b"},
      {"<<a@b>>", "<a@b>"},
      {"<a@>", "a@"},
      {"<a>", nullptr},
      {"<localpart>", nullptr},
      {"plain", nullptr},
      {"a@b", nullptr},
      {"<@>", nullptr},
      {"<>", nullptr},
      {"< a@b>", nullptr},
      {"<a@b >", nullptr},
      {"<a@b\t>", nullptr},
      {"<\ra@b>", nullptr},
      {"<a@b\x07>", nullptr},
      {"<a@b\x0e>", "a@b\x0e"},
      {">a@b<", nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.raw);
    char out[128];
    bool ok = extract_address(out, c.raw);
    EXPECT_EQ(ok, c.want != nullptr);
    EXPECT_STREQ(out, c.want != nullptr ? c.want : "");
  }
}

TEST(extract_address, refuses_an_address_that_does_not_fit) {
  std::string local(120, 'a');
  std::string raw = "<" + local + "@example.org>";
  char small[64];
  EXPECT_FALSE(extract_address(small, raw.c_str()));
  EXPECT_STREQ(small, "");
  char big[256];
  EXPECT_TRUE(extract_address(big, raw.c_str()));
  EXPECT_EQ(std::string(big), local + "@example.org");
  char* none = nullptr;
  EXPECT_FALSE(extract_address(big, none));
}
