// The spawner: a small process that starts SPF evaluation processes.
//
// The serving process has many threads, and a process forked from it could
// inherit a lock some other thread held; so at start-up, while the daemon
// still has one thread, it forks this spawner, which stays single-threaded
// and forks every evaluation process from then on. The spawner gives up
// root at once (the account of sandbox/unprivileged_user.hpp), closes every
// descriptor but its channel and the standard ones, loads its own
// system-call list and then serves requests on its channel (SOCK_SEQPACKET):
//
//   request:   one byte, spawn_request
//   replies:   spawner_note{spawned, pid}, with the new process's end of a
//              socket pair and a pidfd of it attached (SCM_RIGHTS);
//              spawner_note{spawn_failed};
//              spawner_note{ended, pid, wait status} whenever one of its
//              evaluation processes has ended, unasked.
//
// The spawner and its evaluation processes end when the daemon's main thread
// does (parent-death signal) or when the channel closes.
#pragma once

#include <sys/types.h>

#include <cstdint>

#include "sandbox/unprivileged_user.hpp"

inline constexpr char spawn_request = 'E';

struct spawner_note {
  enum kind_t : uint8_t { spawned, spawn_failed, ended } kind;
  int32_t pid;
  int32_t status;  // ended: as waitpid gives it
};

// Forks the spawner (running as `account`); returns the daemon's end of its
// channel and sets `pid`, or returns -1 with errno.
int start_spf_spawner(const unprivileged_account& account, pid_t& pid);
