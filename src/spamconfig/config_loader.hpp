// Loading the spam-check file into spam_config.
//
// Called once by start-up on the main thread, before any worker thread
// exists. Writes no log line: a missing file is reported by the caller,
// malformed or unknown lines are skipped silently. The configuration checker
// passes an observer to learn which lines were skipped and why.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

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
  unsigned line;             // physical line of the file, from 1
  config_line_issue issue;
  std::string key;           // as read, at most 127 characters; may be empty
  std::string value;         // as read, at most 127 characters; may be empty
  std::string detail;        // see config_line_issue
};

// Called once per issue, in file order. Must not throw.
using config_line_observer = std::function<void(const config_line_report&)>;

// Sets every default, then applies the key/value file at `path`. Requires a
// zero-filled spam_config and a compiled address_pattern. False when the
// file cannot be opened (the defaults stay in force); true once it has been
// read to its end. `observer`, when set, hears of every skipped line or part.
[[nodiscard]] bool load_spam_config(const char* path, const config_line_observer& observer = {});

// A time value in seconds: a last letter d/D, h/H or m/M multiplies the
// leading decimal number by a day, an hour or a minute; otherwise the whole
// text is seconds ("90" and "90s" both give 90). A value outside the signed
// 32-bit range is clamped to its nearest end, never wrapped.
int32_t parse_time_value(const char* text);
