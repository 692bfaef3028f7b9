// The SPF cache's bucket table while it moves to a larger or smaller array
// one bucket at a time: every entry stays findable after every step, and
// entries linked or unlinked midway land where later lookups look.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "checks/spf_cache.hpp"
#include "checks/spf_cache_entry.hpp"
#include "checks/spf_cache_table.hpp"

namespace {

spf_cache_entry** zeroed_buckets(std::size_t size) {
  // NOLINTNEXTLINE(bugprone-sizeof-expression): a bucket is one pointer
  return static_cast<spf_cache_entry**>(std::calloc(size, sizeof(spf_cache_entry*)));
}

struct table_fixture {
  spf_cache_table table{};
  std::vector<spf_cache_entry*> entries;

  explicit table_fixture(std::size_t size) { table.start_migration(zeroed_buckets(size), size); }
  ~table_fixture() {
    for (spf_cache_entry* entry : entries) free_spf_cache_entry(entry);
    std::free(table.heads);
    std::free(table.old_heads);
  }
  void add(int n) {
    std::string key = "192.0.2." + std::to_string(n) + "|example.org";
    spf_cache_entry* entry = make_spf_cache_entry(key.c_str(), spf_cache_hash(key.c_str()), 2, 1);
    table.link(entry);
    entries.push_back(entry);
  }
  void remove_front() {
    table.unlink(entries.front());
    free_spf_cache_entry(entries.front());
    entries.erase(entries.begin());
  }
  bool all_found() {
    for (spf_cache_entry* entry : entries) {
      if (table.find(entry->key(), entry->hash) != entry) return false;
    }
    return true;
  }
};

}  // namespace

TEST(spf_cache_table, entries_stay_findable_through_every_step_of_a_resize) {
  struct resize_case {
    const char* name;
    std::size_t from, to;
  };
  const resize_case cases[] = {{"grow", 8, 16},
                               {"grow fourfold", 8, 32},
                               {"shrink", 32, 4},
                               {"grow in pieces", 16384, 32768},
                               {"shrink in pieces", 32768, 1024}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    table_fixture fixture(c.from);
    int next = 0;
    for (; next < 40; ++next) fixture.add(next);
    spf_cache_entry** old_heads = fixture.table.heads;
    fixture.table.start_migration(zeroed_buckets(c.to), c.to);
    std::size_t handed_back = 0;
    for (std::size_t step = 0; fixture.table.migrating(); ++step) {
      ASSERT_LE(step, c.from) << "the migration never ends";
      ASSERT_TRUE(fixture.all_found()) << "before step " << step;
      fixture.add(next++);  // linked midway
      fixture.remove_front();
      ASSERT_TRUE(fixture.all_found()) << "after changes at step " << step;
      spf_cache_bucket_range unneeded = fixture.table.migrate_step(1);
      if (unneeded.count != 0) {
        EXPECT_EQ(unneeded.first, old_heads + handed_back);
      }
      handed_back += unneeded.count;
    }
    EXPECT_EQ(handed_back, c.from) << "the whole old array is handed back once";
    std::free(old_heads);
    EXPECT_FALSE(fixture.table.migrating());
    EXPECT_EQ(fixture.table.size, c.to);
    EXPECT_TRUE(fixture.all_found());
  }
}
