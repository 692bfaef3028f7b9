// The SPF result cache: hashing, validity in time, whole-key comparison,
// the bound with eviction of the entry closest to expiry, dropping of
// expired entries, growth and shrinking of the table, 64-bit expiry
// arithmetic.
#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "checks/spf_cache.hpp"

namespace {

constexpr std::size_t roomy = 1000000;

class spf_cache_test : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(spf_cache_init(roomy)); }
  void TearDown() override { spf_cache_free(); }
};

constexpr int64_t now = 1700000000;

std::string numbered_key(int n) {
  return "198.51." + std::to_string(n / 256 % 256) + "." + std::to_string(n % 256) + "|domain" +
         std::to_string(n) + ".example";
}

}  // namespace

TEST(spf_cache, works_only_while_allocated_and_starts_empty_again) {
  EXPECT_FALSE(spf_cache_allocated());
  spf_cache_insert("192.0.2.7|example.org", 60, 2, now);
  EXPECT_EQ(spf_cache_lookup("192.0.2.7|example.org", now), 0);
  EXPECT_EQ(spf_cache_entry_count(), 0U);
  spf_cache_set_limit(5);  // no cache: nothing to do
  for (int round = 0; round < 2; ++round) {
    ASSERT_TRUE(spf_cache_init(roomy));
    EXPECT_TRUE(spf_cache_allocated());
    EXPECT_EQ(spf_cache_lookup("192.0.2.7|example.org", now), 0) << "round " << round;
    spf_cache_insert("192.0.2.7|example.org", 60, 2, now);
    EXPECT_EQ(spf_cache_lookup("192.0.2.7|example.org", now), 2);
    EXPECT_EQ(spf_cache_entry_count(), 1U);
    spf_cache_free();
    EXPECT_FALSE(spf_cache_allocated());
    EXPECT_EQ(spf_cache_entry_count(), 0U);
  }
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
  EXPECT_EQ(spf_cache_entry_count(), 0U) << "the expired entry was dropped";
}

TEST_F(spf_cache_test, expired_entry_is_replaced_from_its_expiry_second) {
  spf_cache_insert("192.0.2.7|example.org", 10, 2, now);
  spf_cache_insert("192.0.2.7|example.org", 10, 3, now + 10);
  EXPECT_EQ(spf_cache_lookup("192.0.2.7|example.org", now + 10), 3);
  EXPECT_EQ(spf_cache_entry_count(), 1U);
}

TEST_F(spf_cache_test, keys_sharing_a_bucket_are_told_apart) {
  // A key whose hash differs from the first key's only above bit 15.
  const std::string first = "192.0.2.7|example.org";
  std::string second;
  for (int n = 0; second.empty(); ++n) {
    std::string candidate = "198.51.100." + std::to_string(n) + "|example.net";
    uint32_t a = spf_cache_hash(first.c_str()), b = spf_cache_hash(candidate.c_str());
    if (a != b && (a & 0xffff) == (b & 0xffff)) second = candidate;
  }
  spf_cache_insert(first.c_str(), 60, 2, now);
  spf_cache_insert(second.c_str(), 60, 3, now);
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

TEST_F(spf_cache_test, nothing_is_stored_that_could_never_be_answered) {
  struct store_case {
    const char* name;
    int32_t ttl;
    int32_t value;
  };
  const store_case cases[] = {{"negative ttl", -5, 2}, {"ttl 0", 0, 2}, {"value 0", 60, 0}};
  for (const auto& c : cases) {
    spf_cache_insert("192.0.2.7|example.org", c.ttl, c.value, now);
    EXPECT_EQ(spf_cache_lookup("192.0.2.7|example.org", now), 0) << c.name;
    EXPECT_EQ(spf_cache_entry_count(), 0U) << c.name;
  }
}

TEST_F(spf_cache_test, largest_ttl_near_the_32_bit_limit_does_not_wrap) {
  const int64_t late = INT32_MAX - 10;
  spf_cache_insert("192.0.2.7|example.org", INT32_MAX, 2, late);
  EXPECT_EQ(spf_cache_lookup("192.0.2.7|example.org", late + 1000), 2);
  EXPECT_EQ(spf_cache_lookup("192.0.2.7|example.org", late + int64_t{INT32_MAX}), 0);
}

TEST(spf_cache_bound, full_cache_evicts_the_entry_closest_to_expiry) {
  // Two ttls interleaved, one insert a second; the bound is 4.
  struct insert_case {
    const char* key;
    int32_t ttl;
    int64_t at;           // seconds after `now`
    const char* evicted;  // by this insert, or null
  };
  const insert_case cases[] = {
      {"a", 100, 0, nullptr},  // expires at 100
      {"b", 50, 1, nullptr},   // 51
      {"c", 100, 2, nullptr},  // 102
      {"d", 50, 3, nullptr},   // 53
      {"e", 100, 4, "b"},      // 104
      {"f", 50, 5, "d"},       // 55
      {"g", 100, 6, "f"},      // 106
      {"h", 100, 7, "a"},      // 107
      {"i", 50, 8, "c"},       // 58, evicted next: it is now the closest
      {"j", 100, 9, "i"},
  };
  ASSERT_TRUE(spf_cache_init(4));
  std::vector<std::string> held;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.key);
    spf_cache_insert(c.key, c.ttl, 2, now + c.at);
    held.emplace_back(c.key);
    if (c.evicted != nullptr) std::erase(held, std::string(c.evicted));
    EXPECT_EQ(spf_cache_entry_count(), held.size());
    if (c.evicted != nullptr) {
      EXPECT_EQ(spf_cache_lookup(c.evicted, now + c.at), 0);
    }
    for (const auto& key : held) EXPECT_EQ(spf_cache_lookup(key.c_str(), now + c.at), 2) << key;
  }
  spf_cache_free();
}

TEST(spf_cache_bound, lower_bound_keeps_the_entries_expiring_last) {
  ASSERT_TRUE(spf_cache_init(roomy));
  // One insert a second, ttls 2000 and 1000 in turn: the last three even
  // keys (998, 996, 994) expire last.
  for (int n = 0; n < 1000; ++n) {
    spf_cache_insert(numbered_key(n).c_str(), n % 2 == 0 ? 2000 : 1000, 2, now + n);
  }
  spf_cache_set_limit(3);
  EXPECT_EQ(spf_cache_entry_count(), 3U);
  for (int n : {994, 996, 998}) EXPECT_EQ(spf_cache_lookup(numbered_key(n).c_str(), now), 2);
  spf_cache_insert("192.0.2.7|example.org", 2000, 2, now + 1000);
  EXPECT_EQ(spf_cache_entry_count(), 3U);
  EXPECT_EQ(spf_cache_lookup(numbered_key(994).c_str(), now + 1000), 0);
  spf_cache_free();
}

TEST_F(spf_cache_test, expired_entries_are_dropped_without_being_asked_for) {
  for (int n = 0; n < 100; ++n) spf_cache_insert(numbered_key(n).c_str(), 10, 2, now);
  spf_cache_insert("192.0.2.7|example.org", 1000, 2, now);
  EXPECT_EQ(spf_cache_entry_count(), 101U);
  for (int n = 0; n < 30; ++n) (void)spf_cache_lookup("192.0.2.9|other.example", now + 10);
  EXPECT_EQ(spf_cache_entry_count(), 1U);
  EXPECT_EQ(spf_cache_lookup("192.0.2.7|example.org", now + 10), 2);
}

TEST_F(spf_cache_test, every_entry_stays_findable_while_the_table_grows_and_shrinks) {
  // 40,000 short-lived entries make the table grow several times; 300
  // long-lived ones stay while the others expire and the table shrinks.
  constexpr int short_lived = 40000;
  constexpr int long_lived = 300;
  for (int n = 0; n < short_lived + long_lived; ++n) {
    spf_cache_insert(numbered_key(n).c_str(), n < short_lived ? 60 : 6000, 2, now);
    int probe = n * 7919 % (n + 1);  // some earlier key, at every stage of a resize
    ASSERT_EQ(spf_cache_lookup(numbered_key(probe).c_str(), now), 2) << n << " " << probe;
  }
  for (int n = 0; n < short_lived + long_lived; ++n) {
    ASSERT_EQ(spf_cache_lookup(numbered_key(n).c_str(), now), 2) << n;
  }
  for (int round = 0; spf_cache_entry_count() > long_lived && round < short_lived; ++round) {
    int n = short_lived + round % long_lived;
    ASSERT_EQ(spf_cache_lookup(numbered_key(n).c_str(), now + 60), 2) << n;
  }
  EXPECT_EQ(spf_cache_entry_count(), static_cast<std::size_t>(long_lived));
  for (int n = short_lived; n < short_lived + long_lived; ++n) {
    EXPECT_EQ(spf_cache_lookup(numbered_key(n).c_str(), now + 60), 2) << n;
  }
}

TEST(spf_cache_threads, parallel_inserts_and_lookups_keep_the_bound) {
  // Worker threads store and ask at once while the table grows and shrinks,
  // entries are evicted and a reload lowers the bound; run under
  // ThreadSanitizer too.
  constexpr int threads = 4;
  constexpr int per_thread = 20000;
  ASSERT_TRUE(spf_cache_init(30000));
  std::vector<std::thread> workers;
  std::atomic<int> wrong{0};
  for (int t = 0; t < threads; ++t) {
    workers.emplace_back([t, &wrong] {
      for (int n = 0; n < per_thread; ++n) {
        std::string key = numbered_key(t * per_thread + n);
        spf_cache_insert(key.c_str(), 60 + t, 2, now + n / 1000);
        int32_t value = spf_cache_lookup(key.c_str(), now + n / 1000);
        if (value != 0 && value != 2) ++wrong;
      }
    });
  }
  spf_cache_set_limit(5000);
  for (auto& worker : workers) worker.join();
  EXPECT_EQ(wrong.load(), 0);
  EXPECT_LE(spf_cache_entry_count(), 5000U);
  spf_cache_free();
}
