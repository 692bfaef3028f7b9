// Substring lists as an Aho-Corasick automaton.
#include "spamconfig/substring_automaton.hpp"

substring_automaton::substring_automaton(const pattern_entry* list)
    : trie_(list, {.from_end = false, .fold_case = false}) {
  uint32_t count = trie_.node_count();
  fallback_.assign(count, byte_trie::root);
  // Breadth-first order: a node's link and mark are final before its
  // children's, and a link always leads to a shallower node.
  for (uint32_t parent = 0; parent < count; ++parent) {
    for (uint32_t node = trie_.first_child(parent); node < trie_.first_child(parent + 1); ++node) {
      if (parent != byte_trie::root) {
        fallback_[node] = next_state(fallback_[parent], trie_.label(node));
      }
      if (trie_.ends_string(fallback_[node])) trie_.mark_end(node);
    }
  }
}

// The node reached from `state` by `byte`: its child, else the child of the
// nearest suffix link that has one, else the root.
uint32_t substring_automaton::next_state(uint32_t state, unsigned char byte) const {
  for (;;) {
    uint32_t next = trie_.child(state, byte);
    if (next != byte_trie::absent) return next;
    if (state == byte_trie::root) return byte_trie::root;
    state = fallback_[state];
  }
}

bool substring_automaton::matches(const char* address) const {
  if (address == nullptr) return false;
  if (trie_.ends_string(byte_trie::root)) return true;  // an empty entry occurs everywhere
  uint32_t state = byte_trie::root;
  for (const char* at = address; *at != '\0'; ++at) {
    state = next_state(state, static_cast<unsigned char>(*at));
    if (trie_.ends_string(state)) return true;
  }
  return false;
}

std::size_t substring_automaton::bytes() const {
  return sizeof *this + trie_.bytes() + fallback_.capacity() * sizeof(uint32_t);
}
