// The three list queries as every stage uses them.
#include <gtest/gtest.h>

#include <arpa/inet.h>

#include "spamconfig/list_queries.hpp"

TEST(ip_list_match, compares_the_prefix_bits_only) {
  ip_mask_entry host{inet_addr("192.0.2.7"), 32, nullptr};
  ip_mask_entry net{inet_addr("10.1.2.0"), 24, &host};
  ip_mask_entry odd{inet_addr("172.16.0.0"), 12, nullptr};
  ip_mask_entry all{inet_addr("10.1.2.3"), 0, nullptr};
  struct match_case {
    const ip_mask_entry* list;
    const char* address;
    bool want;
  };
  const match_case cases[] = {
      {&net, "10.1.2.200", true},  {&net, "10.1.3.1", false},       {&net, "192.0.2.7", true},
      {&net, "192.0.2.8", false},  {&odd, "172.31.255.1", true},    {&odd, "172.32.0.1", false},
      {&all, "203.0.113.9", true}, {&all, "255.255.255.255", true}, {nullptr, "10.1.2.3", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ip_list_match(c.list, inet_addr(c.address)), c.want) << c.address;
  }
}

TEST(name_suffix_match, ends_with_ignoring_case_across_labels) {
  char dotted[] = ".Example.Net";
  char plain[] = "example.test";
  pattern_entry second{plain, nullptr};
  pattern_entry list{dotted, &second};
  struct name_case {
    const char* name;
    bool want;
  };
  const name_case cases[] = {
      {"mx1.example.net", true}, {"MX1.EXAMPLE.NET", true},
      {"example.net", false},    {"badexample.test", true},
      {"example.test", true},    {"example.test.org", false},
      {"xample.test", false},    {"", false},
  };
  for (const auto& c : cases) EXPECT_EQ(name_suffix_match(&list, c.name), c.want) << c.name;
  EXPECT_FALSE(name_suffix_match(nullptr, "example.test"));
}

TEST(address_substring_match, finds_entry_anywhere_byte_for_byte) {
  char domain[] = "example.com";
  pattern_entry list{domain, nullptr};
  struct address_case {
    const char* address;
    bool want;
  };
  const address_case cases[] = {
      {"alice@example.com", true},      {"bob@example.com.test", true},
      {"x@notexample.community", true}, {"alice@Example.com", false},
      {"alice@example.org", false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(address_substring_match(&list, c.address), c.want) << c.address;
}
