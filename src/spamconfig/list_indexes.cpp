// The lookup structures of the six lists, built and freed together.
#include "spamconfig/list_indexes.hpp"

#include <new>

#include "spamconfig/ip_prefix_index.hpp"
#include "spamconfig/name_suffix_index.hpp"
#include "spamconfig/substring_automaton.hpp"

namespace {

// A new structure over `list`; null for an empty list or when memory is
// short, so the query walks the list instead.
template <typename Index, typename Entry>
void build(const Index*& index, const Entry* list) {
  if (index != nullptr || list == nullptr) return;
  try {
    index = new Index(list);
  } catch (const std::bad_alloc&) {
    index = nullptr;
  }
}

template <typename Index>
void release(const Index*& index) {
  delete index;
  index = nullptr;
}

template <typename Index>
std::size_t bytes_of(const Index* index) {
  return index != nullptr ? index->bytes() : 0;
}

}  // namespace

void build_list_indexes(spam_config_record& config) {
  build(config.whitelistip_index, config.whitelistip);
  build(config.blacklistip_index, config.blacklistip);
  build(config.whitelistptr_index, config.whitelistptr);
  build(config.blacklistptr_index, config.blacklistptr);
  build(config.whitelistfrom_index, config.whitelistfrom);
  build(config.whitelistto_index, config.whitelistto);
}

void free_list_indexes(spam_config_record& config) {
  release(config.whitelistip_index);
  release(config.blacklistip_index);
  release(config.whitelistptr_index);
  release(config.blacklistptr_index);
  release(config.whitelistfrom_index);
  release(config.whitelistto_index);
}

std::size_t list_index_bytes(const spam_config_record& config) {
  return bytes_of(config.whitelistip_index) + bytes_of(config.blacklistip_index) +
         bytes_of(config.whitelistptr_index) + bytes_of(config.blacklistptr_index) +
         bytes_of(config.whitelistfrom_index) + bytes_of(config.whitelistto_index);
}
