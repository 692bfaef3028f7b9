// Spam-check settings in unit tests.
//
// The daemon never changes a record once it is published, and tests keep to
// that: a test that needs other settings in force builds a fresh record
// (fresh_settings), edits it before it is published, and the connections it
// opens afterwards take it as their snapshot. `spam_config` is a plain record
// for tests that fill and read one directly (the loader, the SPF step with
// its record passed in); it is never put in force.
#pragma once

#include <functional>

#include "spamconfig/config_loader.hpp"
#include "spamconfig/spam_settings.hpp"

extern spam_config_record spam_config;

using settings_edit = std::function<void(spam_config_record&)>;

// Puts in force a fresh record: every default, the attachment pattern
// compiled, then `edit`. While it lives, connections opened take it; when it
// ends, fresh defaults are put in force.
class fresh_settings {
 public:
  explicit fresh_settings(const settings_edit& edit = {});
  ~fresh_settings();
  fresh_settings(const fresh_settings&) = delete;
  fresh_settings& operator=(const fresh_settings&) = delete;
};

// Puts a fresh record with every default in force.
void publish_default_settings();

// A list entry owned as the loader owns one (freed with its record), for a
// test that puts one in a list of a fresh record.
pattern_entry* owned_pattern_entry(const char* text, pattern_entry* next = nullptr);

// Loads `path` with load_spam_config and makes the result the content of
// `spam_config` (what it held before is freed). True when the file was read.
bool load_test_settings(const char* path, const config_line_observer& observer = {});
