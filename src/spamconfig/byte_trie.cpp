// Building and searching the flat byte trie.
#include "spamconfig/byte_trie.hpp"

#include <algorithm>
#include <array>
#include <cstring>
#include <new>

namespace {

constexpr uint32_t no_node = byte_trie::absent;

unsigned char lower(unsigned char byte) {
  return byte >= 'A' && byte <= 'Z' ? static_cast<unsigned char>(byte - 'A' + 'a') : byte;
}

}  // namespace

uint32_t byte_trie::child(uint32_t node, unsigned char byte) const {
  const unsigned char* begin = label_.data() + first_child_[node];
  const unsigned char* end = label_.data() + first_child_[node + 1];
  const unsigned char* found = std::lower_bound(begin, end, byte);
  if (found == end || *found != byte) return absent;
  return static_cast<uint32_t>(found - label_.data());
}

std::size_t byte_trie::bytes() const {
  return first_child_.capacity() * sizeof(uint32_t) + label_.capacity() + ends_.capacity();
}

byte_trie_builder::byte_trie_builder(trie_key_form form) : form_(form) {
  nodes_.push_back({no_node, no_node, 0, false});
}

uint32_t byte_trie_builder::child_or_new(uint32_t parent, unsigned char byte) {
  for (uint32_t at = nodes_[parent].first_child; at != no_node; at = nodes_[at].next_sibling) {
    if (nodes_[at].label == byte) return at;
  }
  if (nodes_.size() >= no_node - 1) throw std::bad_alloc();  // node numbers must fit
  auto created = static_cast<uint32_t>(nodes_.size());
  nodes_.push_back({no_node, nodes_[parent].first_child, byte, false});
  nodes_[parent].first_child = created;
  return created;
}

void byte_trie_builder::add(const char* text) {
  std::size_t length = std::strlen(text);
  uint32_t at = 0;
  for (std::size_t step = 0; step < length && !nodes_[at].ends; ++step) {
    auto byte = static_cast<unsigned char>(text[form_.from_end ? length - 1 - step : step]);
    at = child_or_new(at, form_.fold_case ? lower(byte) : byte);
  }
  nodes_[at].ends = true;  // a shorter string already ending on the way covers this one
}

byte_trie byte_trie_builder::finish() const {
  byte_trie trie;
  seam_vector<uint32_t> order;  // linked nodes in breadth-first order
  order.reserve(nodes_.size());
  trie.first_child_.reserve(nodes_.size() + 1);
  trie.label_.reserve(nodes_.size());
  trie.ends_.reserve(nodes_.size());
  order.push_back(0);
  std::array<uint32_t, 256> children{};
  for (std::size_t index = 0; index < order.size(); ++index) {
    const node& current = nodes_[order[index]];
    trie.first_child_.push_back(static_cast<uint32_t>(order.size()));
    trie.label_.push_back(current.label);
    trie.ends_.push_back(current.ends ? 1 : 0);
    if (current.ends) continue;  // never walked past: see the header
    std::size_t count = 0;
    for (uint32_t at = current.first_child; at != no_node; at = nodes_[at].next_sibling) {
      children[count++] = at;
    }
    std::sort(
        children.begin(), children.begin() + static_cast<std::ptrdiff_t>(count),
        [this](uint32_t left, uint32_t right) { return nodes_[left].label < nodes_[right].label; });
    order.insert(order.end(), children.begin(),
                 children.begin() + static_cast<std::ptrdiff_t>(count));
  }
  trie.first_child_.push_back(static_cast<uint32_t>(order.size()));
  trie.first_child_.shrink_to_fit();  // fewer nodes than linked when strings were covered
  trie.label_.shrink_to_fit();
  trie.ends_.shrink_to_fit();
  return trie;
}
