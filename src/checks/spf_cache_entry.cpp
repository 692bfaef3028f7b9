// Allocation and release of SPF cache entries (see spf_cache_entry.hpp).
#include "checks/spf_cache_entry.hpp"

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <new>

#include "common/alloc_seam.hpp"

spf_cache_entry* make_spf_cache_entry(const char* key, uint32_t hash, int32_t value,
                                      int64_t expiry) {
  std::size_t key_size = std::strlen(key) + 1;
  void* block = teslo_malloc(sizeof(spf_cache_entry) + key_size);
  if (block == nullptr) return nullptr;
  auto* entry = new (block) spf_cache_entry{nullptr, nullptr, nullptr, expiry, hash, value, 0};
  std::memcpy(entry + 1, key, key_size);
  return entry;
}

std::size_t free_spf_cache_chain(spf_cache_entry* first) {
  std::size_t freed = 0;
  while (first != nullptr) {
    spf_cache_entry* next = first->chain_next;
    std::free(first);
    first = next;
    ++freed;
  }
  return freed;
}
