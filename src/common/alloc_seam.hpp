// The allocations whose failure the daemon handles (the connection context,
// the message record, owned texts, SPF cache entries and tables, configuration list
// entries, end-of-message header buffers) go through these wrappers.
//
// Callable from any thread. In the daemon each wrapper is the C library call
// (alloc_seam.cpp, an edge of the product kept out of the core library); the
// failure tests link a stand-in instead (tests/support/alloc_faults) that
// can make them fail one at a time without starving the machine.
#pragma once

#include <cstddef>

// A null result leaves errno ENOMEM, as the C library's.
void* teslo_malloc(std::size_t size);
void* teslo_calloc(std::size_t count, std::size_t size);
// strdup through the seam; the copy is freed with free().
char* teslo_strdup(const char* text);

// Zero-filled pages of their own (anonymous mmap), for large arrays that
// must not cost a memset when made nor stay in the heap when freed; null when
// memory is short. Released with teslo_unmap and the same size.
void* teslo_map_zeroed(std::size_t size);
void teslo_unmap(void* pages, std::size_t size);
