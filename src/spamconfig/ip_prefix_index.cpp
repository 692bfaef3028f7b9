// Address lists as a hash set of masked prefixes.
#include "spamconfig/ip_prefix_index.hpp"

#include <arpa/inet.h>
#include <bit>

#include "spamconfig/prefix_mask.hpp"

namespace {

// No key has all 32 upper bits set (they hold a prefix length of 1 to 32).
constexpr uint64_t empty_slot = ~uint64_t{0};

// Prefix length in the upper half, the masked host-order address below.
uint64_t key_of(unsigned prefix, uint32_t host_address) {
  return (uint64_t{prefix} << 32) | (host_address & prefix_mask(prefix));
}

}  // namespace

ip_prefix_index::ip_prefix_index(const ip_mask_entry* list) {
  std::size_t count = 0;
  for (const ip_mask_entry* entry = list; entry != nullptr; entry = entry->next) ++count;
  std::size_t size = 8;
  unsigned bits = 3;
  while (size < 2 * count) {  // at most half full: short probe runs
    size *= 2;
    ++bits;
  }
  slots_.assign(size, empty_slot);
  shift_ = 64 - bits;
  for (const ip_mask_entry* entry = list; entry != nullptr; entry = entry->next) {
    unsigned prefix = entry->prefix < 32 ? entry->prefix : 32;  // as the list query reads it
    if (prefix == 0) {
      matches_all_ = true;
      continue;
    }
    lengths_present_ |= uint64_t{1} << prefix;
    insert(key_of(prefix, ntohl(entry->address)));
  }
}

std::size_t ip_prefix_index::slot_of(uint64_t key) const {
  return static_cast<std::size_t>((key * 0x9E3779B97F4A7C15u) >> shift_);  // Fibonacci hashing
}

void ip_prefix_index::insert(uint64_t key) {
  std::size_t mask = slots_.size() - 1;
  for (std::size_t slot = slot_of(key);; slot = (slot + 1) & mask) {
    if (slots_[slot] == key) return;
    if (slots_[slot] == empty_slot) {
      slots_[slot] = key;
      return;
    }
  }
}

bool ip_prefix_index::contains(uint32_t address) const {
  if (matches_all_) return true;
  uint32_t host_address = ntohl(address);
  std::size_t mask = slots_.size() - 1;
  for (uint64_t rest = lengths_present_; rest != 0; rest &= rest - 1) {
    uint64_t key = key_of(static_cast<unsigned>(std::countr_zero(rest)), host_address);
    for (std::size_t slot = slot_of(key); slots_[slot] != empty_slot; slot = (slot + 1) & mask) {
      if (slots_[slot] == key) return true;
    }
  }
  return false;
}

std::size_t ip_prefix_index::bytes() const {
  return sizeof *this + slots_.capacity() * sizeof(uint64_t);
}
