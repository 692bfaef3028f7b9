// The list queries of the spam-check settings.
#include "spamconfig/list_queries.hpp"

#include <arpa/inet.h>
#include <cstring>

#include "spamconfig/ip_prefix_index.hpp"
#include "spamconfig/name_suffix_index.hpp"
#include "spamconfig/substring_automaton.hpp"

namespace {

char lower(char letter) {
  return letter >= 'A' && letter <= 'Z' ? static_cast<char>(letter - 'A' + 'a') : letter;
}

bool equal_ignoring_ascii_case(const char* left, const char* right, std::size_t length) {
  for (std::size_t index = 0; index < length; ++index) {
    if (lower(left[index]) != lower(right[index])) return false;
  }
  return true;
}

uint32_t prefix_mask(uint16_t prefix) {
  if (prefix == 0) return 0;
  if (prefix >= 32) return 0xFFFFFFFFu;
  return 0xFFFFFFFFu << (32 - prefix);
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
