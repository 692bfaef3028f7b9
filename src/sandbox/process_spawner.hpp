// Starting a spawner: the program (teslo-spawner, src/spawner/main.cpp)
// that starts sandboxed helper programs of one kind, the SPF evaluation
// processes (teslo-spf) or the archive listers (teslo-archive), and the
// packets it exchanges with the serving process.
//
// The serving process has many threads and may not create processes (its
// system-call list), so the root monitor, which stays single-threaded,
// starts one spawner per kind on the serving process's request and hands
// the serving process the spawner's channel. start_process_spawner forks;
// the child ignores the signals its parent handles, gives up root for good
// (drop_privileges with the account of sandbox/unprivileged_user.hpp),
// asks for SIGKILL should its parent end, puts its channel at descriptor 3,
// closes every other but the standard ones and executes the spawner
// program with one argument, the kind of helper it starts
// (spawned_role::helper: "spf" or "archive"). A child that cannot do so
// exits 1 (no spawner program: 127).
//
// The channel (SOCK_SEQPACKET) carries:
//   request:   one byte, spawn_request
//   replies:   spawner_note{spawned, pid}, with the new helper's end of a
//              socket pair and a pidfd of it attached (SCM_RIGHTS);
//              spawner_note{spawn_failed};
//              spawner_note{ended, pid, wait status} whenever one of its
//              helpers has ended, unasked.
// The spawner ends (exit status 0) when its channel closes, and its helpers
// with it (their parent-death signal).
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>

#include "sandbox/unprivileged_user.hpp"

inline constexpr char spawn_request = 'E';

struct spawner_note {
  enum kind_t : uint8_t { spawned, spawn_failed, ended } kind;
  int32_t pid;
  int32_t status;  // ended: as waitpid gives it
};

// The spawner program's file name, and the descriptor its channel is at.
inline constexpr const char* spawner_program = "teslo-spawner";
inline constexpr int spawner_channel_fd = 3;

// Which helpers a spawner starts: its program's argument.
struct spawned_role {
  const char* helper;  // "spf" or "archive"
};
inline constexpr spawned_role spf_evaluator_role{"spf"};
inline constexpr spawned_role archive_lister_role{"archive"};

// Forks and executes the spawner of `program_directory` (running as
// `account`); returns the daemon's end of its channel (close-on-exec) and
// sets `pid`, or returns -1 with errno. Single-threaded callers only (the
// child of a fork runs up to the exec).
int start_process_spawner(const unprivileged_account& account, const spawned_role& role, pid_t& pid,
                          const std::string& program_directory);
// The same with the daemon's own program directory
// (sandbox/program_path.hpp: beside the running executable, else the
// installed one).
int start_process_spawner(const unprivileged_account& account, const spawned_role& role,
                          pid_t& pid);
