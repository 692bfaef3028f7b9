// Giving up root (see drop_privileges.hpp).
#include "sandbox/drop_privileges.hpp"

#include <grp.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <cerrno>

bool drop_privileges(const unprivileged_account& account) {
  if (account.switch_needed) {
    if (setgroups(1, &account.gid) != 0) return false;
    if (setresgid(account.gid, account.gid, account.gid) != 0) return false;
    if (setresuid(account.uid, account.uid, account.uid) != 0) return false;
    // A process that can become root again has dropped nothing.
    if (setuid(0) == 0 || setgid(0) == 0) {
      errno = EPERM;
      return false;
    }
  }
  if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) return false;
  return prctl(PR_SET_DUMPABLE, 0, 0, 0, 0) == 0;
}
