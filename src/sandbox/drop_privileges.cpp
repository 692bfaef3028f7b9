// Giving up root (see drop_privileges.hpp).
#include "sandbox/drop_privileges.hpp"

#include <grp.h>
#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>

namespace {

// Empties every capability set left. The uid switch has emptied the
// permitted, effective and ambient sets already; the inheritable set, which
// a service manager may have filled, survives it.
bool clear_capabilities() {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct none[_LINUX_CAPABILITY_U32S_3] = {};
  return syscall(SYS_capset, &header, none) == 0;
}

}  // namespace

bool drop_privileges(const unprivileged_account& account) {
  if (account.switch_needed) {
    if (setgroups(1, &account.gid) != 0) return false;
    if (setresgid(account.gid, account.gid, account.gid) != 0) return false;
    if (setresuid(account.uid, account.uid, account.uid) != 0) return false;
    if (!clear_capabilities()) return false;
    // A process that can become root again has dropped nothing.
    if (setuid(0) == 0 || setgid(0) == 0) {
      errno = EPERM;
      return false;
    }
  }
  if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) return false;
  return prctl(PR_SET_DUMPABLE, 0, 0, 0, 0) == 0;
}
