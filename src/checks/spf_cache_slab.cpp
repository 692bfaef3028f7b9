// Slab memory of the SPF cache entries (see spf_cache_slab.hpp).
#include "checks/spf_cache_slab.hpp"

#include <atomic>
#include <cstdint>
#include <new>
#include <pthread.h>

#include "common/alloc_seam.hpp"
#include "common/die.hpp"

namespace {

constexpr std::size_t slab_size = std::size_t{256} * 1024;  // also its alignment
constexpr std::size_t block_alignment = 8;

struct slab_header {
  // Blocks cut from the slab and not freed yet, plus one while it is the
  // slab being cut from.
  std::atomic<std::size_t> live;
};
constexpr std::size_t first_block = 64;  // the header, rounded to a cache line
static_assert(sizeof(slab_header) <= first_block);
static_assert(spf_cache_slab_largest <= slab_size - first_block);

// Guards current and used. Static, never destroyed.
pthread_mutex_t slab_lock = PTHREAD_MUTEX_INITIALIZER;
slab_header* current = nullptr;  // the slab being cut from; null when none
std::size_t used = 0;            // bytes of it cut so far, header included

// A zero-filled slab aligned to its size, so a block finds its slab by
// rounding its address down; its one reference is the caller's.
slab_header* map_slab() {
  auto* pages = static_cast<char*>(teslo_map_zeroed(2 * slab_size));
  if (pages == nullptr) return nullptr;
  std::size_t misalignment = reinterpret_cast<uintptr_t>(pages) & (slab_size - 1);
  char* aligned = pages + (misalignment == 0 ? 0 : slab_size - misalignment);
  teslo_unmap(pages, static_cast<std::size_t>(aligned - pages));
  teslo_unmap(aligned + slab_size, static_cast<std::size_t>(pages + slab_size - aligned));
  return new (aligned) slab_header{1};
}

void release(slab_header* slab) {
  if (slab != nullptr && slab->live.fetch_sub(1, std::memory_order_acq_rel) == 1) {
    teslo_unmap(slab, slab_size);
  }
}

// Cuts `size` bytes from the current slab; null when there is no room.
void* cut(std::size_t size) {
  if (current == nullptr || used + size > slab_size) return nullptr;
  void* block = reinterpret_cast<char*>(current) + used;
  used += size;
  current->live.fetch_add(1, std::memory_order_relaxed);
  return block;
}

}  // namespace

void* spf_cache_slab_allocate(std::size_t size) {
  if (size == 0 || size > spf_cache_slab_largest) return nullptr;
  size = (size + block_alignment - 1) & ~(block_alignment - 1);
  for (;;) {
    {
      mutex_guard hold(&slab_lock);
      if (void* block = cut(size); block != nullptr) return block;
    }
    slab_header* fresh = map_slab();
    if (fresh == nullptr) return nullptr;
    slab_header* full = nullptr;
    {
      mutex_guard hold(&slab_lock);
      if (current == nullptr || used + size > slab_size) {
        full = current;
        current = fresh;
        used = first_block;
        fresh = nullptr;
      }
    }
    release(fresh);  // another thread put a fresh slab in place meanwhile
    release(full);
  }
}

void spf_cache_slab_free(void* block) {
  if (block == nullptr) return;
  auto* byte = static_cast<char*>(block);
  std::size_t offset = reinterpret_cast<uintptr_t>(byte) & (slab_size - 1);
  release(reinterpret_cast<slab_header*>(byte - offset));
}

void spf_cache_slab_release_current() {
  slab_header* retired = nullptr;
  {
    mutex_guard hold(&slab_lock);
    retired = current;
    current = nullptr;
    used = 0;
  }
  release(retired);
}
