// The process-wide SPF result cache: client address and sender domain
// ("<client_addr>|<domain>") to an SPF result code, valid for `ttl` seconds.
//
// Start-up creates it (spf_cache_init) when `ttl` is not 0, and so does a
// settings reload that brings a `ttl` other than 0; each reload also gives it
// the new bound (spf_cache_set_limit, "spfcachesize"). Shutdown frees it
// after the workers have ended. An entry keeps the expiry it was stored with
// whatever `ttl` a later reload brings.
//
// Bounded: it holds at most `limit` entries (after a lower bound, once
// spf_cache_set_limit has returned). Storing one more first evicts the
// entry closest to expiry. Expired entries are dropped a few at a time
// by the operations that follow, so the count may include some that have
// expired but are not dropped yet; they are never answered. The table grows
// and shrinks with the count, moving its entries over a few buckets per
// operation, so lookups and inserts take about the same time at any size.
//
// Locking: the cache owns its one lock; every function below takes it for
// its own work only (never across a DNS query), so callers on any thread
// just call. Memory is allocated and freed in bulk (table arrays, a whole
// cache) only outside the lock, and an entry is allocated before the lock
// is taken and freed after it is released. A failure to take or release it
// is fatal through die.
//
// Memory: entries come from slabs that go back to the system whole once
// their entries are gone (spf_cache_slab.hpp), and table arrays have pages
// of their own, so a cache that shrinks or is freed gives its memory back
// at once. About 90 bytes an entry with a 30-byte key, table included.
//
// Keys are compared whole, byte for byte, whatever their length, so two keys
// that share a long prefix never share a result. Times are 64-bit seconds
// since the epoch, so now + ttl cannot overflow.
#pragma once

#include <cstddef>
#include <cstdint>

// Creates an empty cache of at most `limit` entries (at least 1); false when
// memory is short. True at once, changing nothing, when it exists already.
[[nodiscard]] bool spf_cache_init(std::size_t limit);

// Gives the cache a new bound (at least 1). When it holds more, the entries
// closest to expiry are evicted until it fits, and the table is shrunk to
// match, in steps of at most a thousand evictions per hold of the lock, on
// the calling thread (the reload's). Does nothing without a cache.
void spf_cache_set_limit(std::size_t limit);

// The cache exists (init succeeded and free has not run).
bool spf_cache_allocated();

// Bob Jenkins' one-at-a-time hash of the key's bytes (taken unsigned).
uint32_t spf_cache_hash(const char* key);

// The value of the valid entry for `key` (expiry later than `now`), or 0.
int32_t spf_cache_lookup(const char* key, int64_t now);

// Stores `value` for `key` until now + ttl. A key that still has a valid
// entry keeps its old value and expiry. Nothing is stored for value 0, for a
// `ttl` that is not positive (such an entry would never be answered), for a
// key over 16 KB, or when memory is short.
void spf_cache_insert(const char* key, int32_t ttl, int32_t value, int64_t now);

// Entries held now: the valid ones plus expired ones not dropped yet. 0
// without a cache.
std::size_t spf_cache_entry_count();

// Frees every entry and the table. Safe without a cache.
void spf_cache_free();
