// The built-in regular expressions of the spam checks.
//
// compile_builtin_patterns compiles them once per process (the loader calls
// it before it validates list addresses with address_pattern; later calls do
// nothing). Afterwards every thread uses the compiled patterns with regexec
// only, which is safe concurrently. They are never freed. The attachment
// pattern is a setting of its own: each settings record holds its compiled
// copy (spamconfig/spam_config.hpp).
//
// A check that uses a pattern (address_pattern apart) first tests that the
// pattern's text is not empty and skips the test when it is.
#pragma once

#include <regex.h>

// The pattern texts, compiled with REG_EXTENDED | REG_ICASE.
extern const char* const address_pattern_text;      // dotted IPv4 of list entries
extern const char* const helo_pattern_text;         // malformed HELO names
extern const char* const undisclosed_pattern_text;  // undisclosed-recipients To header
inline constexpr int ddns_pattern_count = 5;
extern const char* const ddns_pattern_texts[ddns_pattern_count];  // tried in order
extern const char* const default_disposition_pattern_text;        // harmful attachment names

extern regex_t address_pattern;
extern regex_t helo_pattern;
extern regex_t undisclosed_pattern;
extern regex_t ddns_patterns[ddns_pattern_count];

// Compiles address_pattern, helo_pattern, undisclosed_pattern and the five
// ddns_patterns, in that order. Only the first call compiles; later calls do
// nothing. Compilation results are not checked (the texts are fixed).
void compile_builtin_patterns();

// Compiles `text` with REG_EXTENDED | REG_ICASE into `pattern`; false (and
// nothing to free) when it does not compile.
bool compile_pattern(regex_t& pattern, const char* text);

// True when the compiled `pattern` matches `text` (regexec, no sub-matches).
bool pattern_matches(const regex_t& pattern, const char* text);
