// The SPF result cache: hashing, validity in time, whole-key comparison,
// reuse of expired entries and 64-bit expiry arithmetic.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <string>

#include "checks/spf_cache.hpp"

namespace {

class spf_cache_test : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(spf_cache_init()); }
  void TearDown() override { spf_cache_free(); }
};

constexpr int64_t now = 1700000000;

}  // namespace

TEST(spf_cache_hash, is_jenkins_one_at_a_time_over_unsigned_bytes) {
  struct hash_case {
    const char* key;
    uint32_t want;
  };
  const hash_case cases[] = {
      {"", 0x00000000U},
      {"a", 0xca2e9442U},
      {"The quick brown fox jumps over the lazy dog", 0x519e91f5U},
      {"\xe9", 0x7d4b7a55U},  // a byte above 127 is added as 233, not -23
      {"192.0.2.7|example.org", 0x2b612574U},
  };
  for (const auto& c : cases) EXPECT_EQ(spf_cache_hash(c.key), c.want) << "key " << c.key;
}

TEST(spf_cache, works_only_while_allocated) {
  EXPECT_FALSE(spf_cache_allocated());
  spf_cache_insert("192.0.2.7|example.org", 60, 2, now);
  EXPECT_EQ(spf_cache_lookup("192.0.2.7|example.org", now), 0);
  ASSERT_TRUE(spf_cache_init());
  EXPECT_TRUE(spf_cache_allocated());
  spf_cache_free();
  EXPECT_FALSE(spf_cache_allocated());
  spf_cache_free();  // a second free is harmless
}

TEST_F(spf_cache_test, entry_is_valid_until_its_expiry_second) {
  spf_cache_insert("192.0.2.7|example.org", 60, 2, now);
  EXPECT_EQ(spf_cache_lookup("192.0.2.7|example.org", now), 2);
  EXPECT_EQ(spf_cache_lookup("192.0.2.7|example.org", now + 59), 2);
  EXPECT_EQ(spf_cache_lookup("192.0.2.7|example.org", now + 60), 0);
  EXPECT_EQ(spf_cache_lookup("192.0.2.7|example.net", now), 0);
}

TEST_F(spf_cache_test, insert_over_valid_entry_keeps_value_and_expiry) {
  spf_cache_insert("192.0.2.7|example.org", 60, 3, now);
  spf_cache_insert("192.0.2.7|example.org", 6000, 2, now + 30);
  EXPECT_EQ(spf_cache_lookup("192.0.2.7|example.org", now + 59), 3);
  EXPECT_EQ(spf_cache_lookup("192.0.2.7|example.org", now + 60), 0);
  EXPECT_EQ(spf_cache_chain_length("192.0.2.7|example.org"), 1U);
}

TEST_F(spf_cache_test, expired_entry_is_reused_but_not_in_its_expiry_second) {
  spf_cache_insert("192.0.2.7|example.org", 10, 2, now);
  // At the expiry second the old entry is neither found nor reused.
  spf_cache_insert("192.0.2.7|example.org", 10, 3, now + 10);
  EXPECT_EQ(spf_cache_chain_length("192.0.2.7|example.org"), 2U);
  EXPECT_EQ(spf_cache_lookup("192.0.2.7|example.org", now + 10), 3);
  // Later both have expired: the first is recycled, nothing is allocated.
  spf_cache_insert("192.0.2.7|example.org", 10, 4, now + 100);
  EXPECT_EQ(spf_cache_chain_length("192.0.2.7|example.org"), 2U);
  EXPECT_EQ(spf_cache_lookup("192.0.2.7|example.org", now + 100), 4);
}

TEST_F(spf_cache_test, keys_sharing_a_chain_are_told_apart) {
  // Find a key whose hash differs from the first key's only above bit 15.
  const std::string first = "192.0.2.7|example.org";
  std::string second;
  for (int n = 0; second.empty(); ++n) {
    std::string candidate = "198.51.100." + std::to_string(n) + "|example.net";
    uint32_t a = spf_cache_hash(first.c_str()), b = spf_cache_hash(candidate.c_str());
    if (a != b && (a & 0xffff) == (b & 0xffff)) second = candidate;
  }
  spf_cache_insert(first.c_str(), 60, 2, now);
  spf_cache_insert(second.c_str(), 60, 3, now);
  EXPECT_EQ(spf_cache_chain_length(first.c_str()), 2U);
  EXPECT_EQ(spf_cache_lookup(first.c_str(), now), 2);
  EXPECT_EQ(spf_cache_lookup(second.c_str(), now), 3);
}

TEST_F(spf_cache_test, long_keys_are_compared_whole) {
  // An IPv6 client and a long sender domain: keys far beyond 128 bytes that
  // differ only in their last characters must never share a result.
  const std::string client = "2001:db8:ffff:ffff:ffff:ffff:ffff:ffff|";
  const std::string domain(200, 'd');
  const std::string good = client + domain + ".example.org";
  const std::string evil = client + domain + ".example.net";
  spf_cache_insert(good.c_str(), 60, 2, now);
  EXPECT_EQ(spf_cache_lookup(good.c_str(), now), 2);
  EXPECT_EQ(spf_cache_lookup(evil.c_str(), now), 0);
  EXPECT_EQ(spf_cache_lookup(good.substr(0, 127).c_str(), now), 0);
}

TEST_F(spf_cache_test, negative_ttl_stores_already_expired_entries) {
  spf_cache_insert("192.0.2.7|example.org", -5, 2, now);
  EXPECT_EQ(spf_cache_lookup("192.0.2.7|example.org", now), 0);
}

TEST_F(spf_cache_test, largest_ttl_near_the_32_bit_limit_does_not_wrap) {
  const int64_t late = INT32_MAX - 10;
  spf_cache_insert("192.0.2.7|example.org", INT32_MAX, 2, late);
  EXPECT_EQ(spf_cache_lookup("192.0.2.7|example.org", late + 1000), 2);
  EXPECT_EQ(spf_cache_lookup("192.0.2.7|example.org", late + int64_t{INT32_MAX}), 0);
}

TEST_F(spf_cache_test, value_zero_is_never_stored) {
  spf_cache_insert("192.0.2.7|example.org", 60, 0, now);
  EXPECT_EQ(spf_cache_chain_length("192.0.2.7|example.org"), 0U);
}
