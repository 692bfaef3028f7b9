// The hash table of the SPF cache: a power-of-two array of bucket chains,
// indexed by the low bits of the key's hash, that is resized incrementally.
//
// A resize installs a new array (allocated by the caller, outside the cache
// lock) and then moves the old array's buckets over a few at a time, on the
// operations that follow, so no single operation pays for all entries.
// While that runs, an entry lives in the old array when its old bucket has
// not been moved yet, otherwise in the new one; bucket_of knows which.
//
// Plain data, zero-filled when unused; every member is called with the
// cache lock held. Keys in the table are unique (the cache removes an
// entry before it links another with the same key).
#pragma once

#include <cstddef>
#include <cstdint>

#include "checks/spf_cache_entry.hpp"

// Buckets of an old array that are no longer needed.
struct spf_cache_bucket_range {
  spf_cache_entry** first;
  std::size_t count;
};

// Old buckets are handed back in pieces of this many (64 KiB of pages) as
// the moving goes on.
constexpr std::size_t spf_cache_release_piece = 8192;

struct spf_cache_table {
  spf_cache_entry** heads;      // bucket array in use, `size` chains
  std::size_t size;             // a power of two
  spf_cache_entry** old_heads;  // array being emptied into `heads`; null when none
  std::size_t old_size;         // its bucket count
  std::size_t moved;            // old buckets below this index are already moved
  std::size_t released;         // old buckets below this index are handed back

  // Starts using `fresh_heads` (zero-filled, `fresh_size` buckets, a power of
  // two). Only when not migrating; an empty table just takes it.
  void start_migration(spf_cache_entry** fresh_heads, std::size_t fresh_size);
  bool migrating() const { return old_heads != nullptr; }

  // Moves the entries of up to `bucket_budget` old buckets. Returns the part
  // of the old array no longer needed, for the caller to free after the
  // lock: each whole piece of spf_cache_release_piece moved buckets, and the
  // rest once all are moved (the migration is then over). Count 0: none.
  [[nodiscard]] spf_cache_bucket_range migrate_step(std::size_t bucket_budget);
  // The part of the old array not handed back yet (count 0: none).
  spf_cache_bucket_range old_remainder() const;

  // The entry with this key, valid or expired, or null.
  spf_cache_entry* find(const char* key, uint32_t hash);
  void link(spf_cache_entry* entry);
  void unlink(const spf_cache_entry* entry);

 private:
  spf_cache_entry*& bucket_of(uint32_t hash);
};
