// Building and searching the flat byte trie.
//
// The trie is built one depth at a time. At each depth the strings that go
// deeper are sorted by (node reached, next byte) with two counting-sort
// passes; equal pairs share the next node, so the nodes of the next depth
// come out in breadth-first order with sorted children. Each pass costs the
// strings still going plus the nodes of the depth (and 256), so the whole
// build is linear in the total length of the strings.
#include "spamconfig/byte_trie.hpp"

#include <algorithm>
#include <cstring>
#include <new>

#include "common/text.hpp"

namespace {

// The entries' texts, read as the trie stores them, end to end in one buffer.
struct key_buffer {
  seam_vector<unsigned char> bytes;
  seam_vector<uint32_t> start;  // key i is bytes[start[i]] to bytes[start[i + 1] - 1]

  key_buffer(const pattern_entry* list, trie_key_form form) {
    start.push_back(0);
    for (const pattern_entry* entry = list; entry != nullptr; entry = entry->next) {
      std::size_t length = std::strlen(entry->text);
      if (bytes.size() + length >= byte_trie::absent - 1) throw std::bad_alloc();  // ids must fit
      for (std::size_t step = 0; step < length; ++step) {
        auto byte =
            static_cast<unsigned char>(entry->text[form.from_end ? length - 1 - step : step]);
        bytes.push_back(form.fold_case ? lower_ascii_byte(byte) : byte);
      }
      start.push_back(static_cast<uint32_t>(bytes.size()));
    }
  }
  uint32_t length(uint32_t key) const { return start[key + 1] - start[key]; }
  unsigned char at(uint32_t key, uint32_t depth) const { return bytes[start[key] + depth]; }
};

// Stable counting sort of `from` into `to` by bucket(item) < buckets.
template <typename Bucket>
void counting_sort(const seam_vector<uint32_t>& from, seam_vector<uint32_t>& to,
                   seam_vector<uint32_t>& counts, std::size_t buckets, Bucket bucket) {
  counts.assign(buckets + 1, 0);
  for (uint32_t item : from) ++counts[bucket(item) + 1];
  for (std::size_t b = 1; b <= buckets; ++b) counts[b] += counts[b - 1];
  to.resize(from.size());
  for (uint32_t item : from) to[counts[bucket(item)]++] = item;
}

}  // namespace

byte_trie::byte_trie(const pattern_entry* list, trie_key_form form) {
  const key_buffer keys(list, form);
  auto key_count = static_cast<uint32_t>(keys.start.size() - 1);
  label_.reserve(keys.bytes.size() + 1);
  ends_.reserve(keys.bytes.size() + 1);
  first_child_.reserve(keys.bytes.size() + 2);
  label_.push_back(0);
  ends_.push_back(0);
  seam_vector<uint32_t> node_of(key_count, root);  // the node each key has reached
  seam_vector<uint32_t> going;                     // keys that still go deeper
  seam_vector<uint32_t> sorted;
  seam_vector<uint32_t> counts;
  for (uint32_t key = 0; key < key_count; ++key) going.push_back(key);
  uint32_t level_begin = 0;  // nodes of the current depth: level_begin to level_end - 1
  uint32_t level_end = 1;
  for (uint32_t depth = 0;; ++depth) {
    // Keys that end here mark their node; keys behind a marked node stop.
    std::erase_if(going, [&](uint32_t key) {
      if (keys.length(key) == depth) ends_[node_of[key]] = 1;
      return keys.length(key) == depth;
    });
    std::erase_if(going, [&](uint32_t key) { return ends_[node_of[key]] != 0; });
    if (going.empty()) break;
    counting_sort(going, sorted, counts, 256, [&](uint32_t key) { return keys.at(key, depth); });
    counting_sort(sorted, going, counts, level_end - level_begin,
                  [&](uint32_t key) { return node_of[key] - level_begin; });
    uint32_t next_node = level_end;
    uint32_t parent = level_begin;  // nodes before it have their first_child
    for (uint32_t key : going) {
      uint32_t reached = node_of[key];
      unsigned char byte = keys.at(key, depth);
      for (; parent <= reached; ++parent) first_child_.push_back(next_node);
      bool same_as_last = next_node > first_child_[reached] && label_[next_node - 1] == byte;
      if (!same_as_last) {
        label_.push_back(byte);
        ends_.push_back(0);
        ++next_node;
      }
      node_of[key] = next_node - 1;
    }
    for (; parent < level_end; ++parent) first_child_.push_back(next_node);
    level_begin = level_end;
    level_end = next_node;
  }
  while (first_child_.size() <= label_.size()) first_child_.push_back(node_count());
  first_child_.shrink_to_fit();  // fewer nodes than bytes when strings share their starts
  label_.shrink_to_fit();
  ends_.shrink_to_fit();
}

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
