// The list queries of the spam-check settings.
#include "spamconfig/list_queries.hpp"

#include <arpa/inet.h>
#include <cstring>

#include "common/text.hpp"
#include "spamconfig/ip_prefix_index.hpp"
#include "spamconfig/name_suffix_index.hpp"
#include "spamconfig/prefix_mask.hpp"
#include "spamconfig/substring_automaton.hpp"

namespace {

bool equal_ignoring_ascii_case(const char* left, const char* right, std::size_t length) {
  for (std::size_t index = 0; index < length; ++index) {
    if (lower_ascii_byte(left[index]) != lower_ascii_byte(right[index])) return false;
  }
  return true;
}

}  // namespace

bool ip_list_match(const ip_mask_entry* list, const ip_prefix_index* index, uint32_t address) {
  if (index != nullptr) return index->contains(address);
  uint32_t host_address = ntohl(address);
  for (const ip_mask_entry* entry = list; entry != nullptr; entry = entry->next) {
    uint32_t mask = prefix_mask(entry->prefix);
    if ((ntohl(entry->address) & mask) == (host_address & mask)) return true;
  }
  return false;
}

bool name_suffix_match(const pattern_entry* list, const name_suffix_index* index,
                       const char* name) {
  if (index != nullptr) return index->matches(name);
  if (name == nullptr) return false;
  std::size_t name_length = std::strlen(name);
  for (const pattern_entry* entry = list; entry != nullptr; entry = entry->next) {
    std::size_t entry_length = std::strlen(entry->text);
    if (entry_length > name_length) continue;
    if (equal_ignoring_ascii_case(name + (name_length - entry_length), entry->text, entry_length)) {
      return true;
    }
  }
  return false;
}

bool address_substring_match(const pattern_entry* list, const substring_automaton* index,
                             const char* address) {
  if (index != nullptr) return index->matches(address);
  if (address == nullptr) return false;
  for (const pattern_entry* entry = list; entry != nullptr; entry = entry->next) {
    if (std::strstr(address, entry->text) != nullptr) return true;
  }
  return false;
}
