// Allocation and release of SPF cache entries (see spf_cache_entry.hpp).
#include "checks/spf_cache_entry.hpp"

#include <cstddef>
#include <cstring>
#include <new>

#include "checks/spf_cache_slab.hpp"

spf_cache_entry* make_spf_cache_entry(const char* key, uint32_t hash, int32_t value,
                                      int64_t expiry) {
  std::size_t key_size = std::strlen(key) + 1;
  void* block = spf_cache_slab_allocate(sizeof(spf_cache_entry) + key_size);
  if (block == nullptr) return nullptr;
  auto* entry = new (block) spf_cache_entry{nullptr, nullptr, nullptr, expiry, hash, value, 0};
  std::memcpy(entry + 1, key, key_size);
  return entry;
}

void free_spf_cache_entry(spf_cache_entry* entry) { spf_cache_slab_free(entry); }

std::size_t free_spf_cache_chain(spf_cache_entry* first) {
  std::size_t freed = 0;
  while (first != nullptr) {
    spf_cache_entry* next = first->chain_next;
    free_spf_cache_entry(first);
    first = next;
    ++freed;
  }
  return freed;
}
