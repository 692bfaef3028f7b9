// The SPF result cache (see spf_cache.hpp). Every entry point holds
// cache_lock for its own work; nothing here logs.
#include "checks/spf_cache.hpp"

#include <cstdlib>
#include <cstring>
#include <pthread.h>

#include "common/alloc_seam.hpp"
#include "common/die.hpp"

namespace {

constexpr std::size_t chain_count = 65536;

struct spf_cache_entry {
  char* key;              // owned copy of the cache key
  uint32_t hash;          // spf_cache_hash(key)
  int32_t value;          // SPF result code, never 0
  int64_t expiry;         // seconds since the epoch; invalid from then on
  spf_cache_entry* next;  // next entry of the chain
};

// Guards spf_cache and every entry. Static, so it exists before start-up
// and after shutdown; it is never destroyed.
pthread_mutex_t cache_lock = PTHREAD_MUTEX_INITIALIZER;

// The chain heads; null when there is no cache. Guarded by cache_lock.
spf_cache_entry** spf_cache = nullptr;

// Entries in spf_cache. Guarded by cache_lock.
std::size_t entry_count = 0;

spf_cache_entry*& chain_of(uint32_t hash) { return spf_cache[hash & (chain_count - 1)]; }

bool entry_matches(const spf_cache_entry* entry, const char* key, uint32_t hash, int64_t now) {
  return entry->hash == hash && entry->expiry > now && entry->key != nullptr &&
         std::strcmp(entry->key, key) == 0;
}

const spf_cache_entry* find_valid(const char* key, uint32_t hash, int64_t now) {
  for (const spf_cache_entry* entry = chain_of(hash); entry != nullptr; entry = entry->next) {
    if (entry_matches(entry, key, hash, now)) return entry;
  }
  return nullptr;
}

// Gives an expired entry the new contents. False when the key copy fails,
// in which case the entry stays as it was.
bool reuse_expired(const char* key, uint32_t hash, int32_t value, int64_t expiry, int64_t now) {
  for (spf_cache_entry* entry = chain_of(hash); entry != nullptr; entry = entry->next) {
    if (entry->expiry >= now) continue;
    char* copy = teslo_strdup(key);
    if (copy == nullptr) return false;
    std::free(entry->key);
    entry->key = copy;
    entry->hash = hash;
    entry->value = value;
    entry->expiry = expiry;
    return true;
  }
  return false;
}

void append_entry(const char* key, uint32_t hash, int32_t value, int64_t expiry) {
  auto* entry = static_cast<spf_cache_entry*>(teslo_calloc(1, sizeof(spf_cache_entry)));
  if (entry == nullptr) return;
  entry->key = teslo_strdup(key);
  if (entry->key == nullptr) {
    std::free(entry);
    return;
  }
  entry->hash = hash;
  entry->value = value;
  entry->expiry = expiry;
  spf_cache_entry** link = &chain_of(hash);
  while (*link != nullptr) link = &(*link)->next;
  *link = entry;
  ++entry_count;
}

}  // namespace

bool spf_cache_init() {
  mutex_guard hold(&cache_lock);
  if (spf_cache != nullptr) return true;
  // An array of chain heads, each one pointer.
  // NOLINTNEXTLINE(bugprone-sizeof-expression): the size of a pointer is meant
  spf_cache = static_cast<spf_cache_entry**>(teslo_calloc(chain_count, sizeof(spf_cache_entry*)));
  return spf_cache != nullptr;
}

bool spf_cache_allocated() {
  mutex_guard hold(&cache_lock);
  return spf_cache != nullptr;
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
  mutex_guard hold(&cache_lock);
  if (spf_cache == nullptr || key == nullptr) return 0;
  const spf_cache_entry* entry = find_valid(key, spf_cache_hash(key), now);
  return entry != nullptr ? entry->value : 0;
}

void spf_cache_insert(const char* key, int32_t ttl, int32_t value, int64_t now) {
  mutex_guard hold(&cache_lock);
  if (spf_cache == nullptr || key == nullptr || value == 0) return;
  uint32_t hash = spf_cache_hash(key);
  if (find_valid(key, hash, now) != nullptr) return;
  int64_t expiry = now + static_cast<int64_t>(ttl);
  if (reuse_expired(key, hash, value, expiry, now)) return;
  append_entry(key, hash, value, expiry);
}

void spf_cache_free() {
  mutex_guard hold(&cache_lock);
  if (spf_cache == nullptr) return;
  for (std::size_t index = 0; index < chain_count; ++index) {
    spf_cache_entry* entry = spf_cache[index];
    while (entry != nullptr) {
      spf_cache_entry* next = entry->next;
      std::free(entry->key);
      std::free(entry);
      entry = next;
    }
  }
  std::free(spf_cache);
  spf_cache = nullptr;
  entry_count = 0;
}

std::size_t spf_cache_entry_count() {
  mutex_guard hold(&cache_lock);
  return entry_count;
}

std::size_t spf_cache_chain_length(const char* key) {
  mutex_guard hold(&cache_lock);
  if (spf_cache == nullptr || key == nullptr) return 0;
  std::size_t length = 0;
  for (const spf_cache_entry* entry = chain_of(spf_cache_hash(key)); entry != nullptr;
       entry = entry->next) {
    ++length;
  }
  return length;
}
