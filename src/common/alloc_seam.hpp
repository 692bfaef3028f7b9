// The allocations whose failure the daemon handles (the connection context,
// the message record, owned texts, SPF cache entries and tables, configuration list
// entries, end-of-message header buffers) go through these wrappers, so the
// failure tests can make them fail one at a time without starving the
// machine.
//
// Callable from any thread. In the daemon no hook is set and each wrapper is
// the C library call plus one atomic load.
#pragma once

#include <cstddef>

// Asked before each allocation through the seam; true makes it fail (null,
// errno ENOMEM). Set only by tests.
using alloc_fault_hook = bool (*)();
void set_alloc_fault_hook(alloc_fault_hook hook);

void* teslo_malloc(std::size_t size);
void* teslo_calloc(std::size_t count, std::size_t size);
// strdup through the seam; the copy is freed with free().
char* teslo_strdup(const char* text);

// Zero-filled pages of their own (anonymous mmap), for large arrays that
// must not cost a memset when made nor stay in the heap when freed; null when
// memory is short. Released with teslo_unmap and the same size.
void* teslo_map_zeroed(std::size_t size);
void teslo_unmap(void* pages, std::size_t size);
