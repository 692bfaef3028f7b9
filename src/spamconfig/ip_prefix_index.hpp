// The lookup structure of an address list (whitelistip, blacklistip).
//
// One open-addressing hash set of (prefix length, masked address) pairs. A
// lookup masks the address once for each prefix length that occurs in the
// list and probes the set, so it costs at most 32 probes however long the
// list is. Built once, read-only afterwards: any thread may query it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/seam_allocator.hpp"
#include "spamconfig/spam_config.hpp"

class ip_prefix_index : public seam_allocated {
 public:
  // Indexes every entry of `list`. Throws std::bad_alloc when memory is short.
  explicit ip_prefix_index(const ip_mask_entry* list);

  // Same answer as walking the list: some entry has the same first
  // prefix-length bits as `address` (network byte order).
  bool contains(uint32_t address) const;

  // Heap bytes held, the object included.
  std::size_t bytes() const;

 private:
  void insert(uint64_t key);
  std::size_t slot_of(uint64_t key) const;

  seam_vector<uint64_t> slots_;   // a key, or empty_slot
  unsigned shift_ = 0;            // 64 - log2(slots_.size())
  uint64_t lengths_present_ = 0;  // bit p: some entry has prefix length p (1 to 32)
  bool matches_all_ = false;      // some entry has prefix length 0
};
