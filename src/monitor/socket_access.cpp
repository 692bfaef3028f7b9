// Hands the filter socket to a group (see the header).
#include "monitor/socket_access.hpp"

#include <cerrno>
#include <cstring>
#include <grp.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>
#include <vector>

#include "common/error_text.hpp"
#include "common/log_sink.hpp"

namespace {

constexpr mode_t shared_socket_mode = 0660;

// The group id of `name`; false when there is no such group (or the group
// database cannot be read).
bool find_group(const char* name, gid_t& gid) {
  long hint = sysconf(_SC_GETGR_R_SIZE_MAX);
  std::vector<char> buffer(hint > 0 ? static_cast<std::size_t>(hint) : 1024);
  group entry{};
  group* found = nullptr;
  int error;
  while ((error = getgrnam_r(name, &entry, buffer.data(), buffer.size(), &found)) == ERANGE &&
         buffer.size() < (1U << 20)) {
    buffer.resize(buffer.size() * 2);
  }
  if (error != 0 || found == nullptr) return false;
  gid = found->gr_gid;
  return true;
}

}  // namespace

bool share_socket_with_group(const char* socket_path, const char* group) {
  if (group == nullptr || *group == '\0') return true;
  gid_t gid = 0;
  if (!find_group(group, gid)) {
    log_line(LOG_ERR, "socketgroup %s: no such group, the socket stays 0600 root", group);
    return false;
  }
  // The group first: a 0660 socket that still belonged to group root would
  // open it to root's group instead.
  if (chown(socket_path, static_cast<uid_t>(-1), gid) != 0) {
    log_line(LOG_ERR, "socketgroup %s: %s %s failed: %s", group, "chown", socket_path,
             error_text(errno));
    return false;
  }
  if (chmod(socket_path, shared_socket_mode) != 0) {
    log_line(LOG_ERR, "socketgroup %s: %s %s failed: %s", group, "chmod", socket_path,
             error_text(errno));
    return false;
  }
  return true;
}
