// The SPF result cache (see spf_cache.hpp). Every entry point holds
// cache_lock for its own work: it collects what must be freed or allocated
// in a deferred_work and does that after releasing the lock. Nothing here
// logs.
#include "checks/spf_cache.hpp"

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <pthread.h>
#include <type_traits>

#include "checks/spf_cache_entry.hpp"
#include "checks/spf_cache_expiry.hpp"
#include "checks/spf_cache_slab.hpp"
#include "checks/spf_cache_table.hpp"
#include "common/alloc_seam.hpp"
#include "common/die.hpp"

namespace {

constexpr std::size_t smallest_table = 1024;  // buckets; the table never shrinks below
constexpr std::size_t buckets_moved_per_operation = 256;
constexpr int drops_per_lookup = 4;             // expired entries dropped by a lookup
constexpr int drops_per_insert = 8;             // and by an insert
constexpr int evictions_per_insert = 8;         // while over the bound (after a lower one)
constexpr int evictions_per_limit_step = 1024;  // by spf_cache_set_limit per hold of the lock
constexpr std::size_t buckets_moved_per_limit_step = 16384;

struct cache_state {
  spf_cache_table table;
  spf_cache_expiry expiry;
  std::size_t entries;    // in the table and the queues
  std::size_t limit;      // at most this many after an insert
  std::size_t resize_to;  // buckets being allocated outside the lock; 0 none
};
static_assert(std::is_trivial_v<cache_state>);  // zero-filled by calloc

// Guards cache, generation and everything the cache holds. Static, so it
// exists before start-up and after shutdown; it is never destroyed.
pthread_mutex_t cache_lock = PTHREAD_MUTEX_INITIALIZER;
cache_state* cache = nullptr;  // null when there is no cache
uint64_t generation = 0;       // counts caches made and freed

// What an operation leaves for after the lock: memory to free and a table
// to allocate.
struct deferred_work {
  spf_cache_entry* dropped = nullptr;                   // linked through chain_next
  spf_cache_bucket_range unneeded_buckets{nullptr, 0};  // of an old table
  std::size_t allocate_table = 0;                       // buckets; 0 none
  uint64_t for_generation = 0;
};

void take_out(cache_state& state, spf_cache_entry* entry, deferred_work& work) {
  state.table.unlink(entry);
  state.expiry.remove(entry);
  --state.entries;
  entry->chain_next = work.dropped;
  work.dropped = entry;
}

// Moves some buckets of a resize and drops up to `drops` expired entries.
void maintain(cache_state& state, int64_t now, int drops, deferred_work& work) {
  if (state.table.migrating()) {
    work.unneeded_buckets = state.table.migrate_step(buckets_moved_per_operation);
  }
  for (; drops > 0; --drops) {
    spf_cache_entry* soonest = state.expiry.soonest();
    if (soonest == nullptr || soonest->valid_at(now)) break;
    take_out(state, soonest, work);
  }
}

// The bucket count the table should move to, or 0: double when there are
// more entries than buckets, shrink when they fill less than an eighth.
std::size_t wanted_table_size(const cache_state& state) {
  if (state.table.migrating() || state.resize_to != 0) return 0;
  std::size_t size = state.table.size;
  if (state.entries > size) return size * 2;
  if (size > smallest_table && state.entries < size / 8) {
    return std::max(smallest_table, std::bit_ceil(state.entries) * 2);
  }
  return 0;
}

// Claims the resize that the count now calls for.
void plan(cache_state& state, deferred_work& work) {
  if (std::size_t wanted = wanted_table_size(state); wanted != 0) {
    state.resize_to = wanted;
    work.allocate_table = wanted;
    work.for_generation = generation;
  }
}

// Bucket arrays have pages of their own: zero-filled as they are first
// touched, and back to the system at once when freed.
// NOLINTNEXTLINE(bugprone-sizeof-expression): a bucket is one pointer
constexpr std::size_t bucket_bytes = sizeof(spf_cache_entry*);

spf_cache_entry** allocate_buckets(std::size_t size) {
  return static_cast<spf_cache_entry**>(teslo_map_zeroed(size * bucket_bytes));
}

void free_buckets(spf_cache_entry** heads, std::size_t size) {
  teslo_unmap(heads, size * bucket_bytes);
}

// Allocates the claimed table and installs it, if the cache it was claimed
// for still exists. True when the table's move has begun.
bool resize_table(std::size_t size, uint64_t for_generation) {
  spf_cache_entry** heads = allocate_buckets(size);
  bool installed = false;
  {
    mutex_guard hold(&cache_lock);
    if (cache != nullptr && generation == for_generation && cache->resize_to == size) {
      cache->resize_to = 0;
      if (heads != nullptr) cache->table.start_migration(heads, size);
      installed = heads != nullptr;
      heads = nullptr;
    }
  }
  free_buckets(heads, size);
  return installed;
}

// True when a resize began.
bool finish(deferred_work& work) {
  free_spf_cache_chain(work.dropped);
  free_buckets(work.unneeded_buckets.first, work.unneeded_buckets.count);
  return work.allocate_table != 0 && resize_table(work.allocate_table, work.for_generation);
}

void destroy(cache_state* state) {
  if (state == nullptr) return;
  state->expiry.free_all();
  free_buckets(state->table.heads, state->table.size);
  spf_cache_bucket_range old = state->table.old_remainder();
  free_buckets(old.first, old.count);
  std::free(state);
}

}  // namespace

bool spf_cache_init(std::size_t limit) {
  if (spf_cache_allocated()) return true;
  auto* state = static_cast<cache_state*>(teslo_calloc(1, sizeof(cache_state)));
  spf_cache_entry** heads = allocate_buckets(smallest_table);
  if (state == nullptr || heads == nullptr) {
    std::free(state);
    free_buckets(heads, smallest_table);
    return false;
  }
  state->table.start_migration(heads, smallest_table);
  state->limit = std::max<std::size_t>(limit, 1);
  {
    mutex_guard hold(&cache_lock);
    if (cache == nullptr) {
      cache = state;
      ++generation;
      state = nullptr;
    }
  }
  destroy(state);  // another thread made one meanwhile
  return true;
}

void spf_cache_set_limit(std::size_t limit) {
  limit = std::max<std::size_t>(limit, 1);
  for (bool first = true, over = true; over; first = false) {
    deferred_work work;
    {
      mutex_guard hold(&cache_lock);
      if (cache == nullptr) return;
      if (first) cache->limit = limit;
      for (int n = 0; n < evictions_per_limit_step && cache->entries > cache->limit; ++n) {
        take_out(*cache, cache->expiry.soonest(), work);
      }
      // The table shrinks after many evictions; this thread moves it along.
      if (cache->table.migrating()) {
        work.unneeded_buckets = cache->table.migrate_step(buckets_moved_per_limit_step);
      }
      plan(*cache, work);
      over = cache->entries > cache->limit || cache->table.migrating();
    }
    // A shrink that could not be allocated is left to later operations.
    if (finish(work)) over = true;
  }
}

bool spf_cache_allocated() {
  mutex_guard hold(&cache_lock);
  return cache != nullptr;
}

uint32_t spf_cache_hash(const char* key) {
  uint32_t hash = 0;
  for (const auto* byte = reinterpret_cast<const unsigned char*>(key); *byte != 0; ++byte) {
    hash += *byte;
    hash += hash << 10;
    hash ^= hash >> 6;
  }
  hash += hash << 3;
  hash ^= hash >> 11;
  hash += hash << 15;
  return hash;
}

int32_t spf_cache_lookup(const char* key, int64_t now) {
  if (key == nullptr) return 0;
  uint32_t hash = spf_cache_hash(key);
  int32_t value = 0;
  deferred_work work;
  {
    mutex_guard hold(&cache_lock);
    if (cache == nullptr) return 0;
    maintain(*cache, now, drops_per_lookup, work);
    if (spf_cache_entry* entry = cache->table.find(key, hash); entry != nullptr) {
      if (entry->valid_at(now)) {
        value = entry->value;
      } else {
        take_out(*cache, entry, work);
      }
    }
    plan(*cache, work);
  }
  (void)finish(work);
  return value;
}

void spf_cache_insert(const char* key, int32_t ttl, int32_t value, int64_t now) {
  if (key == nullptr || value == 0 || ttl <= 0) return;
  uint32_t hash = spf_cache_hash(key);
  spf_cache_entry* entry = make_spf_cache_entry(key, hash, value, now + int64_t{ttl});
  if (entry == nullptr) return;
  deferred_work work;
  {
    mutex_guard hold(&cache_lock);
    if (cache != nullptr) {
      cache_state& state = *cache;
      maintain(state, now, drops_per_insert, work);
      spf_cache_entry* stored = state.table.find(key, hash);
      if (stored == nullptr || !stored->valid_at(now)) {
        if (stored != nullptr) take_out(state, stored, work);
        for (int n = 0; n < evictions_per_insert && state.entries >= state.limit; ++n) {
          take_out(state, state.expiry.soonest(), work);
        }
        state.table.link(entry);
        state.expiry.push(entry, ttl);
        ++state.entries;
        entry = nullptr;
      }
      plan(state, work);
    }
  }
  free_spf_cache_entry(entry);  // not stored: the key has a valid entry, or there is no cache
  (void)finish(work);
}

std::size_t spf_cache_entry_count() {
  mutex_guard hold(&cache_lock);
  return cache != nullptr ? cache->entries : 0;
}

void spf_cache_free() {
  cache_state* state = nullptr;
  {
    mutex_guard hold(&cache_lock);
    state = cache;
    cache = nullptr;
    ++generation;
  }
  if (state == nullptr) return;
  destroy(state);
  spf_cache_slab_release_current();
}
