// Memory for SPF cache entries: 256 KiB slabs of pages of their own, cut
// into entries in order and handed back to the system whole (munmap) as
// soon as every entry cut from one has been freed.
//
// Entries are stored in time order and mostly leave in time order (they
// expire, or are evicted closest to expiry first), so the slabs empty one
// after another and the memory of a shrinking cache goes back at once,
// without the C library's heap keeping it or a trim walking that heap. The
// cost: a slab stays while any one of its entries lives (an entry of a
// longer ttl among shorter ones keeps its slab until it expires).
//
// Any thread may allocate and free. Allocation takes a lock of its own for
// a few instructions (never the cache lock) and maps a new slab outside it;
// freeing is an atomic count, and the last free of a slab unmaps it.
#pragma once

#include <cstddef>

// The largest block allocate gives.
constexpr std::size_t spf_cache_slab_largest = std::size_t{16} * 1024;

// `size` bytes aligned for an entry; null when memory is short or `size` is
// over spf_cache_slab_largest.
[[nodiscard]] void* spf_cache_slab_allocate(std::size_t size);

// Gives back a block of spf_cache_slab_allocate (null is ignored).
void spf_cache_slab_free(void* block);

// Stops cutting from the slab in use, so that it goes back to the system
// once its entries are freed (spf_cache_free calls this).
void spf_cache_slab_release_current();
