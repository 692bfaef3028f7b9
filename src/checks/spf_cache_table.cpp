// Bucket chains with incremental resizing (see spf_cache_table.hpp).
#include "checks/spf_cache_table.hpp"

#include <cstring>

void spf_cache_table::start_migration(spf_cache_entry** fresh_heads, std::size_t fresh_size) {
  old_heads = heads;
  old_size = heads != nullptr ? size : 0;
  moved = 0;
  released = 0;
  heads = fresh_heads;
  size = fresh_size;
}

spf_cache_bucket_range spf_cache_table::migrate_step(std::size_t bucket_budget) {
  if (old_heads == nullptr) return {nullptr, 0};
  for (; moved < old_size && bucket_budget > 0; ++moved, --bucket_budget) {
    spf_cache_entry* entry = old_heads[moved];
    old_heads[moved] = nullptr;
    while (entry != nullptr) {
      spf_cache_entry* next = entry->chain_next;
      spf_cache_entry*& head = heads[entry->hash & (size - 1)];
      entry->chain_next = head;
      head = entry;
      entry = next;
    }
  }
  if (moved == old_size) {
    spf_cache_bucket_range rest = old_remainder();
    old_heads = nullptr;
    old_size = moved = released = 0;
    return rest;
  }
  std::size_t whole_pieces = moved / spf_cache_release_piece * spf_cache_release_piece;
  if (whole_pieces == released) return {nullptr, 0};
  spf_cache_bucket_range done{old_heads + released, whole_pieces - released};
  released = whole_pieces;
  return done;
}

spf_cache_bucket_range spf_cache_table::old_remainder() const {
  if (old_heads == nullptr) return {nullptr, 0};
  return {old_heads + released, old_size - released};
}

spf_cache_entry*& spf_cache_table::bucket_of(uint32_t hash) {
  if (old_heads != nullptr) {
    std::size_t old_index = hash & (old_size - 1);
    if (old_index >= moved) return old_heads[old_index];
  }
  return heads[hash & (size - 1)];
}

spf_cache_entry* spf_cache_table::find(const char* key, uint32_t hash) {
  for (spf_cache_entry* entry = bucket_of(hash); entry != nullptr; entry = entry->chain_next) {
    if (entry->hash == hash && std::strcmp(entry->key(), key) == 0) return entry;
  }
  return nullptr;
}

void spf_cache_table::link(spf_cache_entry* entry) {
  spf_cache_entry*& head = bucket_of(entry->hash);
  entry->chain_next = head;
  head = entry;
}

void spf_cache_table::unlink(const spf_cache_entry* entry) {
  for (spf_cache_entry** link = &bucket_of(entry->hash); *link != nullptr;
       link = &(*link)->chain_next) {
    if (*link == entry) {
      *link = entry->chain_next;
      return;
    }
  }
}
