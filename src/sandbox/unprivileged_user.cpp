// Finding the unprivileged account (see unprivileged_user.hpp).
#include "sandbox/unprivileged_user.hpp"

#include <pwd.h>
#include <syslog.h>
#include <unistd.h>

#include <cstring>
#include <vector>

#include "common/log_sink.hpp"
#include "common/paths.hpp"

namespace {

std::optional<unprivileged_account> account_of(const char* name) {
  std::vector<char> buffer(16384);
  passwd entry{};
  passwd* found = nullptr;
  if (getpwnam_r(name, &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr)
    return std::nullopt;
  return unprivileged_account{found->pw_uid, found->pw_gid, found->pw_name, true};
}

}  // namespace

std::optional<unprivileged_account> find_unprivileged_account(const char* wanted) {
  if (geteuid() != 0) {
    return unprivileged_account{geteuid(), getegid(), "", false};
  }
  const char* name = wanted != nullptr && wanted[0] != '\0' ? wanted : names::filter_user;
  std::optional<unprivileged_account> account = account_of(name);
  if (!account) {
    log_line(LOG_WARNING, "user %s does not exist, running as %s", name, fallback_filter_user);
    account = account_of(fallback_filter_user);
  } else if (account->uid == 0 || account->gid == 0) {
    // A "user root" left in orvane.conf must not make the filter serve as
    // root.
    log_line(LOG_WARNING, "user %s is root, running as %s", name, fallback_filter_user);
    account = account_of(fallback_filter_user);
  }
  if (!account || account->uid == 0 || account->gid == 0) {
    log_line(LOG_ERR, "[ERROR] no unprivileged user to run as (%s)", name);
    return std::nullopt;
  }
  return account;
}
