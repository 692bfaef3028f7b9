// The three list queries as every stage uses them, each asked both ways: by
// walking the list (no lookup structure) and through its lookup structure.
#include <gtest/gtest.h>

#include <arpa/inet.h>

#include "spamconfig/ip_prefix_index.hpp"
#include "spamconfig/list_queries.hpp"
#include "spamconfig/name_suffix_index.hpp"
#include "spamconfig/substring_automaton.hpp"

TEST(ip_list_match, compares_the_prefix_bits_only) {
  ip_mask_entry host{inet_addr("192.0.2.7"), 32, nullptr};
  ip_mask_entry net{inet_addr("10.1.2.0"), 24, &host};
  ip_mask_entry odd{inet_addr("172.16.0.0"), 12, nullptr};
  ip_mask_entry all{inet_addr("10.1.2.3"), 0, nullptr};
  const ip_prefix_index net_index(&net);
  const ip_prefix_index odd_index(&odd);
  const ip_prefix_index all_index(&all);
  struct match_case {
    const ip_mask_entry* list;
    const ip_prefix_index* index;
    const char* address;
    bool want;
  };
  const match_case cases[] = {
      {&net, &net_index, "10.1.2.200", true},   {&net, &net_index, "10.1.3.1", false},
      {&net, &net_index, "192.0.2.7", true},    {&net, &net_index, "192.0.2.8", false},
      {&odd, &odd_index, "172.31.255.1", true}, {&odd, &odd_index, "172.32.0.1", false},
      {&all, &all_index, "203.0.113.9", true},  {&all, &all_index, "255.255.255.255", true},
      {nullptr, nullptr, "10.1.2.3", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ip_list_match(c.list, nullptr, inet_addr(c.address)), c.want) << c.address;
    EXPECT_EQ(ip_list_match(c.list, c.index, inet_addr(c.address)), c.want) << c.address;
  }
}

TEST(name_suffix_match, ends_with_ignoring_case_across_labels) {
  char dotted[] = ".Example.Net";
  char plain[] = "example.test";
  pattern_entry second{plain, nullptr};
  pattern_entry list{dotted, &second};
  const name_suffix_index index(&list);
  struct name_case {
    const char* name;
    bool want;
  };
  const name_case cases[] = {
      {"mx1.example.net", true}, {"MX1.EXAMPLE.NET", true},
      {"example.net", false},    {"badexample.test", true},
      {"example.test", true},    {"example.test.org", false},
      {"xample.test", false},    {"", false},
      {nullptr, false},
  };
  for (const auto& c : cases) {
    const char* shown = c.name != nullptr ? c.name : "(null)";
    EXPECT_EQ(name_suffix_match(&list, nullptr, c.name), c.want) << shown;
    EXPECT_EQ(name_suffix_match(&list, &index, c.name), c.want) << shown;
  }
  EXPECT_FALSE(name_suffix_match(nullptr, nullptr, "example.test"));
}

TEST(address_substring_match, finds_entry_anywhere_byte_for_byte) {
  char domain[] = "example.com";
  pattern_entry list{domain, nullptr};
  const substring_automaton index(&list);
  struct address_case {
    const char* address;
    bool want;
  };
  const address_case cases[] = {
      {"alice@example.com", true},      {"bob@example.com.test", true},
      {"x@notexample.community", true}, {"alice@Example.com", false},
      {"alice@example.org", false},     {nullptr, false},
  };
  for (const auto& c : cases) {
    const char* shown = c.address != nullptr ? c.address : "(null)";
    EXPECT_EQ(address_substring_match(&list, nullptr, c.address), c.want) << shown;
    EXPECT_EQ(address_substring_match(&list, &index, c.address), c.want) << shown;
  }
}
