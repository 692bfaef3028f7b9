// A read-only trie of byte strings, the common core of the name-suffix and
// substring indexes.
//
// Laid out breadth first in flat arrays: node 0 is the root, the children of
// a node are consecutive and sorted by their byte, so a child is found by a
// binary search over at most 256 bytes. A node that ends a string keeps no
// children: both users stop at the first string they find, so a longer
// string behind a shorter one could never be the first found.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/seam_allocator.hpp"
#include "spamconfig/spam_config.hpp"

// How the entries are read into the trie.
struct trie_key_form {
  bool from_end;   // last byte first (suffix lookups)
  bool fold_case;  // ASCII upper case stored as lower case
};

class byte_trie {
 public:
  static constexpr uint32_t root = 0;
  static constexpr uint32_t absent = 0xFFFFFFFFu;

  // The trie of the texts of `list`, read as `form` says. Linear in the
  // total length of the texts. Throws std::bad_alloc when memory is short.
  byte_trie(const pattern_entry* list, trie_key_form form);

  // The child of `node` along `byte`, or `absent`.
  uint32_t child(uint32_t node, unsigned char byte) const;
  bool ends_string(uint32_t node) const { return ends_[node] != 0; }
  // For a user that gives "ends" a wider sense while it builds on the trie.
  void mark_end(uint32_t node) { ends_[node] = 1; }
  uint32_t node_count() const { return static_cast<uint32_t>(label_.size()); }
  // The children of `node` are the nodes first_child(node) to
  // first_child(node + 1) - 1; label() is the byte that leads to a node.
  uint32_t first_child(uint32_t node) const { return first_child_[node]; }
  unsigned char label(uint32_t node) const { return label_[node]; }
  std::size_t bytes() const;

 private:
  seam_vector<uint32_t> first_child_;  // one more than there are nodes
  seam_vector<unsigned char> label_;
  seam_vector<unsigned char> ends_;
};
