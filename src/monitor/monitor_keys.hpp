// The three keys of orvane.conf that the root monitor acts on: "user" (the
// account of the filter process and its helpers), "socketgroup" (the group
// given the filter socket) and "metricsfile" (the file the monitor writes).
//
// Root reads nothing else of the file: the rest (lists, patterns, actions)
// is the filter process's, which loads the whole file as its own user. The
// lines are read as spamconfig/config_loader.cpp reads them: at most 254
// characters of a physical line (the rest of it skipped), "#" starts a
// comment, the first two blank-separated words (each at most 127
// characters) are key and value, the key's case is ignored, a key without a
// value is skipped and a later line replaces an earlier one. A file that
// cannot be opened, or not be read to its end, gives the defaults: user
// names::filter_user, no group, no metrics file.
#pragma once

#include <optional>
#include <string>

#include "common/paths.hpp"

struct monitor_keys {
  std::string user = names::filter_user;
  std::optional<std::string> socketgroup;
  std::optional<std::string> metricsfile;
};

monitor_keys read_monitor_keys(const char* path);
