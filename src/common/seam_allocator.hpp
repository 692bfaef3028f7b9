// Standard-container storage through the allocation seam (alloc_seam.hpp),
// for structures whose building must survive, and be tested against, a
// failed allocation: a refused allocation throws std::bad_alloc, which the
// builder catches.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <new>
#include <vector>

#include "common/alloc_seam.hpp"

template <typename T>
struct seam_allocator {
  using value_type = T;

  seam_allocator() = default;
  template <typename U>
  seam_allocator(const seam_allocator<U>& /*other*/) {}

  T* allocate(std::size_t count) {
    if (count > static_cast<std::size_t>(-1) / sizeof(T)) throw std::bad_alloc();
    void* memory = teslo_malloc(count * sizeof(T));
    if (memory == nullptr) throw std::bad_alloc();
    return static_cast<T*>(memory);
  }
  void deallocate(T* memory, std::size_t /*count*/) { std::free(memory); }

  template <typename U>
  bool operator==(const seam_allocator<U>& /*other*/) const {
    return true;
  }
};

template <typename T>
using seam_vector = std::vector<T, seam_allocator<T>>;

// Base of objects created with `new` that take their own storage through the
// seam as well; `new` throws std::bad_alloc when it is refused.
struct seam_allocated {
  static void* operator new(std::size_t size) {
    void* memory = teslo_malloc(size);
    if (memory == nullptr) throw std::bad_alloc();
    return memory;
  }
  static void operator delete(void* memory) { std::free(memory); }
};
