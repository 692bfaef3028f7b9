// Giving up root for good, before any network input is read.
//
// drop_privileges: supplementary groups reduced to the account's own group,
// gid then uid set (real, effective and saved), which takes the permitted,
// effective and ambient capabilities away, then the inheritable set emptied
// too; then checks that root cannot be regained; sets no_new_privs (no
// set-uid program or file capability can give anything back) and makes the
// process non-dumpable, so no other process of the same user may trace it or
// read its memory. For an account that needs no switch (a process not started
// as root) only the last two steps run.
//
// False, with errno, when any step fails: the caller must then not go on.
#pragma once

#include "sandbox/unprivileged_user.hpp"

bool drop_privileges(const unprivileged_account& account);
