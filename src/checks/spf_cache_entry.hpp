// One cached SPF result and its key, allocated as a single block (the key's
// bytes follow the record) from the cache's slabs (spf_cache_slab.hpp), so
// storing a result costs one allocation that is made before the cache lock
// is taken.
//
// An entry sits in two intrusive lists at once: the chain of its table
// bucket (spf_cache_table.hpp) and the expiry queue of its ttl
// (spf_cache_expiry.hpp). Both, and every field, are guarded by the cache
// lock once the entry is in the cache; before that and after it has been
// taken out, the entry belongs to the one thread holding it.
#pragma once

#include <cstddef>
#include <cstdint>

struct spf_cache_entry {
  spf_cache_entry* chain_next;   // next entry of the same bucket
  spf_cache_entry* queue_older;  // towards the head of its expiry queue (expires sooner)
  spf_cache_entry* queue_newer;  // towards the tail (expires later)
  int64_t expiry;                // seconds since the epoch; invalid from then on
  uint32_t hash;                 // spf_cache_hash(key)
  int32_t value;                 // SPF result code, never 0
  uint8_t queue;                 // index of its expiry queue

  // The key, terminated, stored right behind the record.
  const char* key() const { return reinterpret_cast<const char*>(this + 1); }
  // Still answered at `now`.
  bool valid_at(int64_t now) const { return expiry > now; }
};

// A new entry holding a copy of `key`, linked nowhere; null when memory is
// short or the key is over 16 KB (the daemon's keys are under 512 bytes).
[[nodiscard]] spf_cache_entry* make_spf_cache_entry(const char* key, uint32_t hash, int32_t value,
                                                    int64_t expiry);

void free_spf_cache_entry(spf_cache_entry* entry);

// Frees every entry of a list linked through chain_next; returns how many.
std::size_t free_spf_cache_chain(spf_cache_entry* first);
