// Allocation wrappers with a failure hook (see alloc_faults.hpp).
#include "support/alloc_faults.hpp"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sys/mman.h>

#include "common/alloc_seam.hpp"

namespace {

std::atomic<alloc_fault_hook> fault_hook{nullptr};

bool injected_failure() {
  alloc_fault_hook hook = fault_hook.load(std::memory_order_acquire);
  if (hook == nullptr || !hook()) return false;
  errno = ENOMEM;
  return true;
}

}  // namespace

void set_alloc_fault_hook(alloc_fault_hook hook) {
  fault_hook.store(hook, std::memory_order_release);
}

void* teslo_malloc(std::size_t size) { return injected_failure() ? nullptr : std::malloc(size); }

void* teslo_calloc(std::size_t count, std::size_t size) {
  return injected_failure() ? nullptr : std::calloc(count, size);
}

char* teslo_strdup(const char* text) { return injected_failure() ? nullptr : strdup(text); }

void* teslo_map_zeroed(std::size_t size) {
  if (injected_failure()) return nullptr;
  void* pages = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  return pages == MAP_FAILED ? nullptr : pages;
}

void teslo_unmap(void* pages, std::size_t size) {
  if (pages != nullptr) (void)munmap(pages, size);
}
