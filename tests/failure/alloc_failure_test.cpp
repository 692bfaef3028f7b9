// Out of memory at the allocation points that the daemon handles, injected
// through the allocation seam (common/alloc_seam.hpp): the connection
// context, the message record, the Subject copy, the subject-tag buffer, the
// SPF cache, and the configuration texts and list entries. In each case the
// stage gives the verdict it defines, nothing crashes, and nothing leaks
// (the AddressSanitizer build checks the leaks).
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <string>
#include <syslog.h>
#include <vector>

#include "checks/offline_dns.hpp"
#include "checks/spf_cache.hpp"
#include "common/alloc_seam.hpp"
#include "filter/filter_description.hpp"
#include "support/alloc_faults.hpp"
#include "fake_milter/fake_milter.hpp"
#include "fake_milter/log_capture.hpp"
#include "connection/connection_context.hpp"
#include "spamconfig/builtin_patterns.hpp"
#include "spamconfig/config_file.hpp"
#include "spamconfig/list_queries.hpp"
#include "spamconfig/test_settings.hpp"

namespace {

// Makes allocations through the seam fail while it lives: the `first`-th
// one counted from its creation (1-based) and, when `sticky`, every later one.
class alloc_faults {
 public:
  explicit alloc_faults(long first, bool sticky = false) {
    seen_.store(0);
    first_.store(first);
    sticky_.store(sticky);
    set_alloc_fault_hook(&should_fail);
  }
  ~alloc_faults() { set_alloc_fault_hook(nullptr); }
  alloc_faults(const alloc_faults&) = delete;
  alloc_faults& operator=(const alloc_faults&) = delete;

  // Allocations asked for through the seam so far.
  static long seen() { return seen_.load(); }
  // Whether an allocation was actually made to fail.
  static bool fired() { return seen_.load() >= first_.load(); }

 private:
  static bool should_fail() {
    long n = ++seen_;
    return n == first_.load() || (sticky_.load() && n > first_.load());
  }
  static inline std::atomic<long> seen_{0};
  static inline std::atomic<long> first_{0};
  static inline std::atomic<bool> sticky_{false};
};

const std::string no_memory = std::strerror(ENOMEM);

}  // namespace

TEST(out_of_memory, context_at_connect_lets_the_connection_pass_unfiltered) {
  fresh_settings settings;
  fake_milter::log_capture logs;
  fake_milter::session smtp(filter_description);
  {
    alloc_faults faults(1);
    EXPECT_EQ(smtp.connect("mx.example.net", "192.0.2.7"), SMFIS_ACCEPT);
    EXPECT_TRUE(alloc_faults::fired());
  }
  EXPECT_TRUE(logs.contains(LOG_ERR, "allocate ERROR " + no_memory))
      << testing::PrintToString(logs.lines());
  EXPECT_EQ(smtp.priv(), nullptr);
  EXPECT_EQ(smtp.close(), SMFIS_ACCEPT);  // close without a context frees nothing
  EXPECT_TRUE(smtp.changes.empty());
}

TEST(out_of_memory, message_record_at_mail_from_tempfails_that_message_only) {
  fresh_settings settings;
  offline_dns::reset();
  fake_milter::log_capture logs;
  fake_milter::session smtp(filter_description);
  smtp.macros["i"] = "4AB1";
  ASSERT_EQ(smtp.connect("mx.example.net", "192.0.2.7"), SMFIS_CONTINUE);
  ASSERT_EQ(smtp.helo("mx.example.net"), SMFIS_CONTINUE);
  {
    alloc_faults faults(1, true);
    EXPECT_EQ(smtp.envfrom({"<alice@example.org>"}), SMFIS_TEMPFAIL);
    EXPECT_TRUE(alloc_faults::fired());
  }
  auto* context = smtp.context<connection_context>();
  ASSERT_NE(context, nullptr);
  EXPECT_EQ(context->message, nullptr);
  // Sendmail answers 451 and the client tries again on the same connection.
  EXPECT_EQ(smtp.envfrom({"<alice@example.org>"}), SMFIS_CONTINUE);
  ASSERT_NE(context->message, nullptr);
  EXPECT_EQ(context->message->queue_id, "4AB1");
  EXPECT_EQ(smtp.envrcpt({"<bob@example.com>"}), SMFIS_CONTINUE);
  EXPECT_EQ(smtp.eom(), SMFIS_CONTINUE);
  EXPECT_EQ(smtp.close(), SMFIS_CONTINUE);
  offline_dns::reset();
}

TEST(out_of_memory, subject_copy_is_skipped_and_a_later_subject_taken) {
  fresh_settings settings;
  fake_milter::session smtp(filter_description);
  ASSERT_EQ(smtp.connect("mx.example.net", "192.0.2.7"), SMFIS_CONTINUE);
  ASSERT_EQ(smtp.envfrom({"<alice@example.org>"}), SMFIS_CONTINUE);
  auto* context = smtp.context<connection_context>();
  {
    alloc_faults faults(1);
    EXPECT_EQ(smtp.header("Subject", "first"), SMFIS_CONTINUE);
  }
  EXPECT_EQ(context->subject, nullptr);
  EXPECT_EQ(smtp.header("Subject", "second"), SMFIS_CONTINUE);
  ASSERT_NE(context->subject, nullptr);
  EXPECT_STREQ(context->subject, "second");
}

TEST(out_of_memory, subject_tag_buffer_drops_only_the_tag) {
  fresh_settings settings([](spam_config_record& c) { c.helocheck = ACTION_HEADER; });
  fake_milter::session smtp(filter_description);
  ASSERT_EQ(smtp.connect("mx.example.net", "192.0.2.7"), SMFIS_CONTINUE);
  ASSERT_EQ(smtp.helo("localhost"), SMFIS_CONTINUE);  // a malformed HELO: helo_header
  ASSERT_EQ(smtp.envfrom({"<alice@example.org>"}), SMFIS_CONTINUE);
  ASSERT_EQ(smtp.envrcpt({"<bob@example.com>"}), SMFIS_CONTINUE);
  ASSERT_EQ(smtp.header("Subject", "Hello"), SMFIS_CONTINUE);
  ASSERT_EQ(smtp.header("To", "bob@example.com"), SMFIS_CONTINUE);
  ASSERT_EQ(smtp.eoh(), SMFIS_CONTINUE);
  ASSERT_TRUE(smtp.context<connection_context>()->helo_header);
  smtp.changes.clear();
  {
    alloc_faults faults(1, true);
    EXPECT_EQ(smtp.eom(), SMFIS_CONTINUE);
    EXPECT_TRUE(alloc_faults::fired());
  }
  bool marked = false;
  for (const auto& change : smtp.changes) {
    EXPECT_EQ(change.find("chgheader Subject"), std::string::npos) << change;
    if (change.rfind("addheader X-Mail-Scan-By", 0) == 0) marked = true;
  }
  EXPECT_TRUE(marked) << testing::PrintToString(smtp.changes);
}

TEST(out_of_memory, spf_cache_stores_nothing_and_keeps_what_it_had) {
  constexpr int64_t now = 1700000000;
  const char* const key = "192.0.2.7|example.org";
  for (long failing : {1L, 2L}) {  // the cache record, its first table
    alloc_faults faults(failing);
    EXPECT_FALSE(spf_cache_init(default_spf_cache_size));
    EXPECT_TRUE(alloc_faults::fired());
  }
  EXPECT_FALSE(spf_cache_allocated());
  ASSERT_TRUE(spf_cache_init(default_spf_cache_size));
  {
    alloc_faults faults(1);  // the first memory block of entries
    spf_cache_insert(key, 60, 2, now);
    EXPECT_TRUE(alloc_faults::fired());
  }
  EXPECT_EQ(spf_cache_lookup(key, now), 0);
  EXPECT_EQ(spf_cache_entry_count(), 0U);
  spf_cache_insert(key, 60, 3, now + 120);
  EXPECT_EQ(spf_cache_lookup(key, now + 120), 3);
  EXPECT_EQ(spf_cache_entry_count(), 1U);
  spf_cache_free();
}

TEST(out_of_memory, spf_cache_that_cannot_grow_keeps_every_entry) {
  constexpr int64_t now = 1700000000;
  ASSERT_TRUE(spf_cache_init(default_spf_cache_size));
  // The first table has 1024 buckets; the insert that passes that count
  // takes its entry from the block in use and allocates the larger table,
  // which fails here.
  std::vector<std::string> keys;
  for (int n = 0; n < 1025; ++n) keys.push_back("198.51.100.1|d" + std::to_string(n) + ".example");
  for (std::size_t n = 0; n + 1 < keys.size(); ++n) spf_cache_insert(keys[n].c_str(), 60, 2, now);
  {
    alloc_faults faults(1);
    spf_cache_insert(keys.back().c_str(), 60, 2, now);
    EXPECT_TRUE(alloc_faults::fired());
  }
  EXPECT_EQ(spf_cache_entry_count(), keys.size());
  for (const auto& key : keys) EXPECT_EQ(spf_cache_lookup(key.c_str(), now), 2) << key;
  spf_cache_free();
}

// Every allocation of a configuration load, failed one at a time: the load
// still succeeds, a list keeps only complete entries, every list still
// answers its queries (walked when its lookup structure could not be built),
// and the texts are the configured or the default ones, never null or half
// made.
TEST(out_of_memory, configuration_load_drops_only_the_entry_it_could_not_store) {
  const std::string text =
      "tag [JUNK]\nwhitelistip 10.0.0.0/8\nblacklistip 198.51.100.7\n"
      "whitelistptr .trusted.test\nwhitelistfrom @trusted.test\nwhitelistto postmaster@x.test\n";
  long allocations = 0;
  {
    alloc_faults count_only(0);
    loaded_config config(text);
    ASSERT_TRUE(config.loaded());
    allocations = alloc_faults::seen();
  }
  ASSERT_GE(allocations, 7);
  for (long failing = 1; failing <= allocations; ++failing) {
    SCOPED_TRACE("allocation " + std::to_string(failing) + " fails");
    alloc_faults faults(failing);
    loaded_config config(text);
    EXPECT_TRUE(config.loaded());
    int entries = 0;
    for (auto* e = spam_config.whitelistip; e != nullptr; e = e->next, ++entries) {
      EXPECT_EQ(e->prefix, 8);
    }
    for (auto* e = spam_config.blacklistip; e != nullptr; e = e->next, ++entries) {
      EXPECT_EQ(e->prefix, 32);
    }
    for (auto* list :
         {spam_config.whitelistptr, spam_config.whitelistfrom, spam_config.whitelistto}) {
      for (auto* e = list; e != nullptr; e = e->next, ++entries) {
        ASSERT_NE(e->text, nullptr);
        EXPECT_TRUE(std::strcmp(e->text, ".trusted.test") == 0 ||
                    std::strcmp(e->text, "@trusted.test") == 0 ||
                    std::strcmp(e->text, "postmaster@x.test") == 0)
            << e->text;
      }
    }
    EXPECT_GE(entries, 4);  // at most one of the five entries is lost
    EXPECT_EQ(ip_list_match(spam_config.whitelistip, spam_config.whitelistip_index,
                            inet_addr("10.9.9.9")),
              spam_config.whitelistip != nullptr);
    EXPECT_EQ(name_suffix_match(spam_config.whitelistptr, spam_config.whitelistptr_index,
                                "mx.Trusted.test"),
              spam_config.whitelistptr != nullptr);
    EXPECT_EQ(address_substring_match(spam_config.whitelistto, spam_config.whitelistto_index,
                                      "postmaster@x.test"),
              spam_config.whitelistto != nullptr);
    if (spam_config.tag != nullptr) {
      EXPECT_TRUE(std::strcmp(spam_config.tag, "[JUNK]") == 0 ||
                  std::strcmp(spam_config.tag, "[SPAM]") == 0)
          << spam_config.tag;
    }
  }
}

// A whole transaction with the n-th allocation through the seam failing, for
// every n the transaction makes: each stage answers with one of its defined
// statuses, a message is never refused for want of memory, and close frees
// whatever was made.
TEST(out_of_memory, any_single_failure_in_a_transaction_never_refuses_or_crashes) {
  fresh_settings settings([](spam_config_record& c) {
    c.helocheck = c.tocheck = c.spf = c.disposition = ACTION_HEADER;
  });
  offline_dns::reset();
  offline_dns::add_spf_record("example.org", "v=spf1 ip4:192.0.2.0/24 -all");
  auto transaction = [](fake_milter::session& smtp) {
    std::string statuses;
    auto note = [&](sfsistat s) { statuses += std::to_string(s); };
    smtp.macros["i"] = "4AB1";
    note(smtp.connect("mx.example.net", "192.0.2.7"));
    if (smtp.priv() == nullptr) return statuses;
    note(smtp.helo("localhost"));
    note(smtp.envfrom({"<alice@example.org>"}));
    note(smtp.envrcpt({"<bob@example.com>"}));
    note(smtp.header("Subject", "Hello"));
    note(smtp.eoh());
    note(smtp.body("Content-Disposition: attachment; filename=a.exe\r\n"));
    note(smtp.eom());
    return statuses;
  };
  ASSERT_TRUE(spf_cache_init(default_spf_cache_size));
  long allocations = 0;
  {
    alloc_faults count_only(0);
    fake_milter::session smtp(filter_description);
    EXPECT_EQ(transaction(smtp), "00000000");
    allocations = alloc_faults::seen();
  }
  spf_cache_free();
  ASSERT_GE(allocations, 3);  // context, message record, Subject copy at least
  for (long failing = 1; failing <= allocations; ++failing) {
    SCOPED_TRACE("allocation " + std::to_string(failing) + " fails");
    ASSERT_TRUE(spf_cache_init(default_spf_cache_size));
    {
      alloc_faults faults(failing);
      fake_milter::session smtp(filter_description);
      std::string statuses = transaction(smtp);
      // 0 continue, 3 accept (no context), 4 tempfail (no message record).
      EXPECT_EQ(statuses.find('1'), std::string::npos) << statuses;
      for (const auto& change : smtp.changes)
        EXPECT_NE(change.rfind("setreply 5", 0), 0U) << change;
      smtp.close();
    }
    spf_cache_free();
  }
  offline_dns::reset();
}
