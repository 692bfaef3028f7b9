// The account that code reading network input runs as.
//
// The daemon's own user is names::filter_user (common/paths.hpp); orvane.conf
// "user" may name another. When the named user does not exist the account
// falls back to `nobody`, with one LOG_WARNING (so does a named user with
// uid or gid 0), so no network input is ever
// handled as root. A process that is not root keeps its own identity: there
// is nothing to drop and no other user it could become.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>

inline constexpr const char* fallback_filter_user = "nobody";

struct unprivileged_account {
  uid_t uid = 0;
  gid_t gid = 0;
  std::string name;
  bool switch_needed = false;  // false: already unprivileged, keep the identity
};

// The account for `wanted` (null or empty: names::filter_user). Nothing when neither
// that user nor `nobody` exists, or when one of them is root (uid 0): the
// caller must then not go on as root.
std::optional<unprivileged_account> find_unprivileged_account(const char* wanted);
