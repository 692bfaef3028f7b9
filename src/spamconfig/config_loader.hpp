// Loading the spam-check file into a new, complete settings record.
//
// Called by start-up (main thread), by the settings reload (reload thread)
// and by the configuration checker, all the same way; it touches nothing
// shared, so any thread may call it. The caller publishes the record it
// returns (spamconfig/spam_settings.hpp) or drops it. Writes no log line: a
// missing file is reported by the caller, malformed or unknown lines are
// skipped silently. The checker passes an observer to learn which lines were
// skipped and why.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "spamconfig/spam_config.hpp"

// Why the loader left a line, or part of one, without effect.
enum class config_line_issue {
  line_too_long,       // over 254 characters: the rest of the line was skipped
  token_cut,           // a word over 127 characters was cut (detail: which)
  missing_value,       // a key without a value: line skipped
  trailing_text,       // words after the value were skipped (detail: them)
  unknown_key,         // line skipped
  value_not_accepted,  // line skipped (detail: what the key accepts)
  address_refused,     // list entry dropped (detail: why)
  value_misread,       // taken, but not as written (detail: how it was read)
};

struct config_line_report {
  unsigned line;  // physical line of the file, from 1
  config_line_issue issue;
  std::string key;     // as read, at most 127 characters; may be empty
  std::string value;   // as read, at most 127 characters; may be empty
  std::string detail;  // see config_line_issue
};

// Called once per issue, in file order. Must not throw.
using config_line_observer = std::function<void(const config_line_report&)>;

// What one load gives.
struct spam_config_load {
  // Every default, then the file applied, with the attachment pattern
  // compiled and the lists' lookup structures built (list_indexes.hpp). The defaults alone when the file could not be read. Null only
  // when memory is short (file_read is then false, error ENOMEM).
  std::shared_ptr<spam_config_record> settings;
  bool file_read;  // the file was opened and read to its end
  int error;       // errno of the failure when file_read is false
};

// Sets every default, then applies the key/value file at `path`. `observer`,
// when set, hears of every skipped line or part.
[[nodiscard]] spam_config_load load_spam_config(const char* path,
                                                const config_line_observer& observer = {});

// A time value in seconds: a last letter d/D, h/H or m/M multiplies the
// leading decimal number by a day, an hour or a minute; otherwise the whole
// text is seconds ("90" and "90s" both give 90). A value outside the signed
// 32-bit range is clamped to its nearest end, never wrapped.
int32_t parse_time_value(const char* text);
