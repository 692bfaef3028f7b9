// The lookup structure of a name list (whitelistptr, blacklistptr).
//
// A trie of the entries read from their last character, lower-cased. A
// lookup walks the name from its end, one node per character, and matches at
// the first node that ends an entry: its cost grows with the name's length,
// not the list's. Built once, read-only afterwards: any thread may query it.
#pragma once

#include <cstddef>

#include "common/seam_allocator.hpp"
#include "spamconfig/byte_trie.hpp"
#include "spamconfig/spam_config.hpp"

class name_suffix_index : public seam_allocated {
 public:
  // Indexes every entry of `list`. Throws std::bad_alloc when memory is short.
  explicit name_suffix_index(const pattern_entry* list);

  // Same answer as walking the list: some entry equals the last characters
  // of `name`, ASCII case ignored. False for a null name.
  bool matches(const char* name) const;

  // Heap bytes held, the object included.
  std::size_t bytes() const { return sizeof *this + trie_.bytes(); }

 private:
  byte_trie trie_;
};
