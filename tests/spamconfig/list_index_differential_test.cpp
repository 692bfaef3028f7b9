// The lookup structures against plain list walks: for every list and query
// below, the query through the structure gives what a straightforward walk of
// the entries gives. Edge cases first, then random lists and queries drawn
// with a fixed seed from small alphabets (so that both answers are common).
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "spamconfig/list_indexes.hpp"
#include "spamconfig/list_queries.hpp"

namespace {

// --- Straightforward answers, one entry at a time -------------------------

bool reference_ip(const std::vector<ip_mask_entry>& list, uint32_t address) {
  for (const auto& entry : list) {
    unsigned prefix = entry.prefix < 32 ? entry.prefix : 32;
    uint64_t mask = (0xFFFFFFFFull << (32 - prefix)) & 0xFFFFFFFFull;
    if ((ntohl(entry.address) & mask) == (ntohl(address) & mask)) return true;
  }
  return false;
}

std::string ascii_lower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

bool reference_suffix(const std::vector<std::string>& list, const char* name) {
  if (name == nullptr) return false;
  std::string folded = ascii_lower(name);
  for (const auto& text : list) {
    if (folded.ends_with(ascii_lower(text))) return true;
  }
  return false;
}

bool reference_substring(const std::vector<std::string>& list, const char* address) {
  if (address == nullptr) return false;
  std::string haystack(address);
  for (const auto& text : list) {
    if (haystack.find(text) != std::string::npos) return true;
  }
  return false;
}

// --- Lists as the loader links them, in storage owned by the test ---------

struct pattern_list {
  std::vector<std::string> texts;
  std::vector<pattern_entry> entries;

  explicit pattern_list(std::vector<std::string> from) : texts(std::move(from)) {
    entries.resize(texts.size());
    for (std::size_t i = 0; i < texts.size(); ++i) {
      entries[i] = {texts[i].data(), i + 1 < texts.size() ? &entries[i + 1] : nullptr};
    }
  }
  pattern_entry* head() { return entries.empty() ? nullptr : entries.data(); }
};

ip_mask_entry* link(std::vector<ip_mask_entry>& list) {
  for (std::size_t i = 0; i < list.size(); ++i) {
    list[i].next = i + 1 < list.size() ? &list[i + 1] : nullptr;
  }
  return list.empty() ? nullptr : list.data();
}

// A record holding the given lists with their lookup structures built; the
// structures are freed with it, the lists stay the test's.
class indexed_record {
 public:
  indexed_record(ip_mask_entry* ips, pattern_entry* names, pattern_entry* addresses) {
    record_.whitelistip = ips;
    record_.whitelistptr = names;
    record_.whitelistfrom = addresses;
    build_list_indexes(record_);
  }
  ~indexed_record() { free_list_indexes(record_); }
  indexed_record(const indexed_record&) = delete;
  indexed_record& operator=(const indexed_record&) = delete;

  bool ip(uint32_t address) const {
    EXPECT_EQ(record_.whitelistip_index != nullptr, record_.whitelistip != nullptr);
    return ip_list_match(record_.whitelistip, record_.whitelistip_index, address);
  }
  bool suffix(const char* name) const {
    EXPECT_EQ(record_.whitelistptr_index != nullptr, record_.whitelistptr != nullptr);
    return name_suffix_match(record_.whitelistptr, record_.whitelistptr_index, name);
  }
  bool substring(const char* address) const {
    EXPECT_EQ(record_.whitelistfrom_index != nullptr, record_.whitelistfrom != nullptr);
    return address_substring_match(record_.whitelistfrom, record_.whitelistfrom_index, address);
  }

 private:
  spam_config_record record_{};
};

uint32_t address_of(const char* text) { return inet_addr(text); }

}  // namespace

TEST(list_index, address_edge_cases_agree_with_the_walk) {
  struct address_case {
    std::vector<std::pair<const char*, uint16_t>> entries;
    std::vector<const char*> queries;
  };
  const address_case cases[] = {
      {{{"10.1.2.3", 0}}, {"0.0.0.0", "203.0.113.9", "255.255.255.255"}},  // prefix 0: all
      {{{"10.1.2.3", 99}, {"10.1.2.0", 33}}, {"10.1.2.3", "10.1.2.0", "10.1.2.4"}},  // over 32
      {{{"10.1.2.0", 24}, {"10.1.0.0", 16}, {"10.0.0.0", 8}},
       {"10.1.2.200", "10.1.3.1", "10.2.0.1", "11.0.0.1"}},
      {{{"172.16.0.0", 12}, {"192.0.2.7", 32}}, {"172.31.255.255", "172.32.0.0", "192.0.2.7"}},
      {{{"128.0.0.0", 1}}, {"127.255.255.255", "128.0.0.0", "255.255.255.255"}},
      {{{"255.255.255.0", 24}}, {"255.255.255.255"}},  // what "undefined" is asked as
      {{{"10.1.2.3", 32}, {"10.1.2.3", 32}}, {"10.1.2.3", "10.1.2.2"}},  // duplicates
      {{}, {"10.1.2.3"}},
  };
  for (const auto& c : cases) {
    std::vector<ip_mask_entry> list;
    for (const auto& [text, prefix] : c.entries)
      list.push_back({address_of(text), prefix, nullptr});
    indexed_record record(link(list), nullptr, nullptr);
    for (const char* query : c.queries) {
      uint32_t address = address_of(query);  // "255.255.255.255" gives INADDR_NONE
      EXPECT_EQ(record.ip(address), reference_ip(list, address)) << query;
    }
  }
}

TEST(list_index, name_and_address_edge_cases_agree_with_the_walk) {
  struct text_case {
    std::vector<std::string> entries;
    std::vector<const char*> queries;
  };
  const text_case cases[] = {
      {{".Example.Net", "example.test"},
       {"mx1.example.net", "MX1.EXAMPLE.NET", "example.net", "badexample.test", "example.test.org",
        "", nullptr}},
      {{"b", "ab", "xab", "B"}, {"ab", "AB", "a", "", "xxab", "ba"}},  // entries within entries
      {{"abc", "bcd", "cde", "bc"}, {"abd", "xbcx", "abcd", "cd", "ab", "ABC"}},
      {{"aab", "ab", "aaab"}, {"aaab", "aab", "aaaa", "aaba"}},       // suffix links that chain
      {{"@", "[", "`", "{", "Z"}, {"a@b", "A", "z", "Z", "{", "_"}},  // bytes beside the letters
      {{"\xc3\xa9t\xc3\xa9", "\xc3\x89"}, {"\xc3\xa9t\xc3\xa9", "x\xc3\x89", "\xc3\xa9"}},
      {{""}, {"", "anything", nullptr}},  // an empty entry (never loaded) is in every text
      {{"a"}, {"b", "", nullptr}},
  };
  for (const auto& c : cases) {
    pattern_list names(c.entries);
    pattern_list addresses(c.entries);
    indexed_record record(nullptr, names.head(), addresses.head());
    for (const char* query : c.queries) {
      const char* shown = query != nullptr ? query : "(null)";
      EXPECT_EQ(record.suffix(query), reference_suffix(c.entries, query)) << shown;
      EXPECT_EQ(record.substring(query), reference_substring(c.entries, query)) << shown;
    }
  }
}

TEST(list_index, random_lists_agree_with_the_walk) {
  std::mt19937 random(20261208);
  auto pick = [&](std::size_t below) {
    return std::uniform_int_distribution<std::size_t>(0, below - 1)(random);
  };
  const std::string alphabet = "abAB.@-Z[\xc3";
  auto text = [&](std::size_t shortest, std::size_t longest) {
    std::string result(shortest + pick(longest - shortest + 1), ' ');
    for (char& c : result) c = alphabet[pick(alphabet.size())];
    return result;
  };
  const uint32_t networks[] = {0x0A000000u, 0xC0000200u, 0xFFFFFF00u};
  auto host_address = [&] { return networks[pick(3)] | static_cast<uint32_t>(pick(1u << 12)); };

  int answers[2] = {0, 0};
  for (std::size_t size : {1u, 30u, 3000u}) {
    SCOPED_TRACE("entries per list: " + std::to_string(size));
    std::vector<ip_mask_entry> ips;
    std::vector<std::string> texts;
    for (std::size_t i = 0; i < size; ++i) {
      auto prefix = static_cast<uint16_t>(1 + pick(36));  // 33 to 36: read as 32
      ips.push_back({htonl(host_address()), prefix, nullptr});
      texts.push_back(text(size < 100 ? 1 : 4, 9));
    }
    pattern_list names(texts);
    pattern_list addresses(texts);
    indexed_record record(link(ips), names.head(), addresses.head());
    for (int query = 0; query < 3000; ++query) {
      uint32_t address = pick(50) == 0 ? INADDR_NONE : htonl(host_address());
      bool ip_answer = reference_ip(ips, address);
      ASSERT_EQ(record.ip(address), ip_answer) << std::hex << ntohl(address);
      std::string name = text(0, 14);
      bool suffix_answer = reference_suffix(texts, name.c_str());
      ASSERT_EQ(record.suffix(name.c_str()), suffix_answer) << name;
      bool substring_answer = reference_substring(texts, name.c_str());
      ASSERT_EQ(record.substring(name.c_str()), substring_answer) << name;
      ++answers[ip_answer];
      ++answers[suffix_answer];
      ++answers[substring_answer];
    }
  }
  // Both answers must be common, or the comparison proves little.
  EXPECT_GT(answers[0], 5000);
  EXPECT_GT(answers[1], 5000);
}
