// The lookup structure of a mail-address list (whitelistfrom, whitelistto).
//
// One Aho-Corasick automaton over all entries: a trie of the entries plus,
// for each node, the node of its longest proper suffix that is also in the
// trie. A lookup reads the address once, byte by byte, following those links
// where the trie has no way on, and matches as soon as it reaches a node
// whose text ends with an entry: its cost grows with the address's length,
// not the list's. Built once, read-only afterwards: any thread may query it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/seam_allocator.hpp"
#include "spamconfig/byte_trie.hpp"
#include "spamconfig/spam_config.hpp"

class substring_automaton : public seam_allocated {
 public:
  // Indexes every entry of `list`, byte for byte. Throws std::bad_alloc when
  // memory is short.
  explicit substring_automaton(const pattern_entry* list);

  // Same answer as walking the list: some entry occurs in `address`, byte
  // for byte. False for a null address.
  bool matches(const char* address) const;

  // Heap bytes held, the object included.
  std::size_t bytes() const;

 private:
  uint32_t next_state(uint32_t state, unsigned char byte) const;

  // A node "ends a string" of trie_ when its text ends with some entry.
  byte_trie trie_;
  seam_vector<uint32_t> fallback_;  // longest proper suffix in the trie, per node
};
