// The settings record that unit tests edit in place.
//
// The daemon publishes records it never changes again; tests instead keep
// one record, `spam_config`, in force for the whole run (published without
// ownership by a test environment), so a test sets a field and the next
// callback of a connection sees it. A test that publishes other settings
// puts this one back with publish_test_settings() when it ends.
#pragma once

#include "spamconfig/test_settings.hpp"
#include "spamconfig/spam_settings.hpp"

extern spam_config_record spam_config;

// `spam_config` as a snapshot that owns nothing.
spam_settings test_settings();

// Puts `spam_config` in force.
void publish_test_settings();

#include "spamconfig/config_loader.hpp"

// Loads `path` with load_spam_config and makes the result the content of
// `spam_config` (what it held before is freed). True when the file was read.
bool load_test_settings(const char* path, const config_line_observer& observer = {});
