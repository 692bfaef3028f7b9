// The three queries over the address and name lists of a settings record.
//
// Every user of a list matches it through these, so all stages agree. They
// only read, so any thread may call them. A query on an empty (null) list is
// false; callers skip the query when the list is empty anyway. Each takes the
// list and its lookup structure from the record (list_indexes.hpp); with a
// null structure it walks the list, with the same answer.
#pragma once

#include <cstdint>

#include "spamconfig/spam_config.hpp"

// True when some entry has the same first prefix-length bits as `address`
// (IPv4, network byte order). Prefix 0 matches every address.
bool ip_list_match(const ip_mask_entry* list, const ip_prefix_index* index, uint32_t address);

// True when some entry's text equals the last characters of `name`, ASCII
// case ignored. No label boundary is needed: "example.test" matches
// "mail.badexample.test".
bool name_suffix_match(const pattern_entry* list, const name_suffix_index* index, const char* name);

// True when some entry's text occurs anywhere in `address`, byte for byte.
// Entries are lower-case; callers lower-case the address first.
bool address_substring_match(const pattern_entry* list, const substring_automaton* index,
                             const char* address);
