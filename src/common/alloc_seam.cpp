// The daemon's allocation wrappers (see alloc_seam.hpp): the C library's
// calls, and anonymous pages for the large zero-filled arrays.
#include "common/alloc_seam.hpp"

#include <cstdlib>
#include <cstring>
#include <sys/mman.h>

void* teslo_malloc(std::size_t size) { return std::malloc(size); }

void* teslo_calloc(std::size_t count, std::size_t size) { return std::calloc(count, size); }

char* teslo_strdup(const char* text) { return strdup(text); }

void* teslo_map_zeroed(std::size_t size) {
  void* pages = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  return pages == MAP_FAILED ? nullptr : pages;
}

void teslo_unmap(void* pages, std::size_t size) {
  if (pages != nullptr) (void)munmap(pages, size);
}
