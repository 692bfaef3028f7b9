// Building and releasing the lookup structures of a record's six lists.
//
// The loader builds them once, after the last list entry and before the
// record is handed out; from then on they are only read. A list whose
// structure cannot be built (memory short) keeps a null pointer and is
// walked entry by entry by its query: slower, same answers.
#pragma once

#include <cstddef>

#include "spamconfig/spam_config.hpp"

// Builds a structure for every non-empty list of `config` that has none.
void build_list_indexes(spam_config_record& config);

// Frees the six structures and leaves null pointers.
void free_list_indexes(spam_config_record& config);

// Heap bytes held by the six structures.
std::size_t list_index_bytes(const spam_config_record& config);
