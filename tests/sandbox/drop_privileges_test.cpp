// Giving up root: after drop_privileges a process started as root holds the
// account's uid and gid and no other group, has every capability set empty
// and cannot gain privileges by exec. Runs only as root (CI does); a child
// does the drop, starting with extra groups and an inheritable capability
// that the drop must take away.
#include <gtest/gtest.h>

#include <grp.h>
#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <string>

#include "sandbox/drop_privileges.hpp"

namespace {

constexpr uid_t nobody_id = 65534;

// Adds CAP_NET_BIND_SERVICE to the inheritable set, as a service manager's
// ambient or inheritable settings would leave it.
bool plant_inheritable_capability() {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[2] = {};
  if (syscall(SYS_capget, &header, data) != 0) return false;
  data[0].inheritable |= 1u << CAP_NET_BIND_SERVICE;
  return syscall(SYS_capset, &header, data) == 0;
}

// What in the calling process still differs from a full drop to `account`;
// empty when nothing does.
std::string what_was_kept(const unprivileged_account& account) {
  std::string kept;
  uid_t ruid, euid, suid;
  gid_t rgid, egid, sgid;
  if (getresuid(&ruid, &euid, &suid) != 0 || ruid != account.uid || euid != account.uid ||
      suid != account.uid)
    kept += "uid; ";
  if (getresgid(&rgid, &egid, &sgid) != 0 || rgid != account.gid || egid != account.gid ||
      sgid != account.gid)
    kept += "gid; ";
  gid_t groups[64];
  int count = getgroups(64, groups);
  for (int index = 0; index < count; ++index) {
    if (groups[index] != account.gid) kept += "group " + std::to_string(groups[index]) + "; ";
  }
  if (count < 0) kept += "getgroups failed; ";
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    for (const char* set : {"CapInh:", "CapPrm:", "CapEff:", "CapAmb:"}) {
      if (line.rfind(set, 0) == 0 &&
          line.find_first_not_of("0\t ", std::strlen(set)) != std::string::npos)
        kept += line + "; ";
    }
  }
  if (prctl(PR_GET_NO_NEW_PRIVS, 0, 0, 0, 0) != 1) kept += "no_new_privs unset; ";
  return kept;
}

}  // namespace

TEST(drop_privileges, root_keeps_no_group_and_no_capability) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root";
  unprivileged_account account{nobody_id, nobody_id, "nobody", true};
  int report[2];
  ASSERT_EQ(pipe(report), 0);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    close(report[0]);
    const gid_t extra_groups[] = {0, 4, 27};
    std::string kept;
    if (setgroups(3, extra_groups) != 0 || !plant_inheritable_capability())
      kept = "could not prepare the child";
    else if (!drop_privileges(account))
      kept = "drop_privileges failed";
    else
      kept = what_was_kept(account);
    (void)!write(report[1], kept.data(), kept.size());
    _exit(0);
  }
  close(report[1]);
  std::string kept;
  char buffer[512];
  for (ssize_t got; (got = read(report[0], buffer, sizeof buffer)) > 0;) kept.append(buffer, got);
  close(report[0]);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(kept, "");
}
