// The spawner of SPF evaluation processes.
//
// The serving process has many threads and may not create processes (its
// system-call list), so the root monitor (daemon/monitor.hpp), which stays
// single-threaded, forks this spawner and hands the serving process its
// channel; the spawner stays single-threaded and forks every evaluation
// process from then on. At once it ignores the signals its parent handles
// (their handlers would write into descriptors it closes), closes every
// descriptor but its channel and the standard ones, gives up root for good
// (the account of sandbox/unprivileged_user.hpp), asks for SIGKILL should its
// parent end, loads its own system-call list and then serves requests on
// its channel (SOCK_SEQPACKET):
//
//   request:   one byte, spawn_request
//   replies:   spawner_note{spawned, pid}, with the new process's end of a
//              socket pair and a pidfd of it attached (SCM_RIGHTS);
//              spawner_note{spawn_failed};
//              spawner_note{ended, pid, wait status} whenever one of its
//              evaluation processes has ended, unasked.
//
// The spawner ends (exit status 0) when its channel closes, and its
// evaluation processes with it (their parent-death signal); it exits 1 when
// it cannot give up root or load its list.
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
