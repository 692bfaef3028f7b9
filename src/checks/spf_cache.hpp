// The process-wide SPF result cache: client address and sender domain
// ("<client_addr>|<domain>") to an SPF result code, valid for `ttl` seconds.
//
// 65536 chains of entries, indexed by the low 16 bits of the key's hash.
// Start-up allocates it (spf_cache_init) when `ttl` is not 0, and so does a
// settings reload that brings a `ttl` other than 0; shutdown frees it after
// the workers have ended. The cache owns its one lock: every operation below
// takes it for itself alone (never across a DNS query), so callers on any
// thread just call. A failure to take or release it is fatal through die.
// Entries are never removed while the daemon runs; expired ones are reused in
// place, and an entry keeps the expiry it was stored with whatever `ttl` a
// later reload brings.
//
// Keys are compared whole, byte for byte, whatever their length, so two keys
// that share a long prefix never share a result. Times are 64-bit seconds
// since the epoch, so now + ttl cannot overflow.
#pragma once

#include <cstddef>
#include <cstdint>

// Allocates the zero-filled chain heads; false when memory is short. True at
// once when they exist already.
[[nodiscard]] bool spf_cache_init();

// The chain heads exist (init succeeded and free has not run).
bool spf_cache_allocated();

// Bob Jenkins' one-at-a-time hash of the key's bytes (taken unsigned).
uint32_t spf_cache_hash(const char* key);

// The value of the valid entry for `key` (expiry later than `now`), or 0.
int32_t spf_cache_lookup(const char* key, int64_t now);

// Stores `value` for `key` until now + ttl. A key that still has a valid
// entry keeps its old value and expiry. An expired entry of the chain is
// reused before a new one is allocated; if memory is short nothing is stored.
void spf_cache_insert(const char* key, int32_t ttl, int32_t value, int64_t now);

// Frees every entry, its key and the chain heads. Safe without a cache.
void spf_cache_free();

// Number of entries in the cache, expired ones included (they are reused,
// not removed).
std::size_t spf_cache_entry_count();

// Number of entries in the chain that `key` hashes to (for tests and the
// benchmark).
std::size_t spf_cache_chain_length(const char* key);
