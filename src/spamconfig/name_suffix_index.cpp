// Name lists as a trie of reversed, lower-cased entries.
#include "spamconfig/name_suffix_index.hpp"

#include <cstring>

#include "common/text.hpp"

namespace {}  // namespace

name_suffix_index::name_suffix_index(const pattern_entry* list)
    : trie_(list, {.from_end = true, .fold_case = true}) {}

bool name_suffix_index::matches(const char* name) const {
  if (name == nullptr) return false;
  uint32_t node = byte_trie::root;
  if (trie_.ends_string(node)) return true;  // an empty entry ends every name
  for (std::size_t left = std::strlen(name); left > 0; --left) {
    node = trie_.child(node, lower_ascii_byte(name[left - 1]));
    if (node == byte_trie::absent) return false;
    if (trie_.ends_string(node)) return true;
  }
  return false;
}
