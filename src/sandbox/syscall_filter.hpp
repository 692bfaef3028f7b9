// Seccomp allow-lists, built with libseccomp and loaded before a process
// reads its first untrusted byte.
//
// A list names the system calls a process may make; anything else kills the
// whole process (SIGSYS), as does a call through another architecture's entry
// points (the 32-bit ones on x86_64). Some calls may be answered with an
// error instead, so that a library's fall-back path fails softly (a file a
// resolver would re-read, the clone3 that glibc tries before clone). Filters
// stack: a process that loads a second list is held to both.
#pragma once

#include <initializer_list>
#include <vector>

struct syscall_rule {
  enum kind_t {
    allow,           // any arguments
    refuse,          // answered with `error`
    allow_if_arg,    // allowed when argument `arg` equals `value`
    allow_if_clear,  // allowed when argument `arg` has none of the bits of `value`
    allow_if_masked  // allowed when argument `arg` masked with `mask` equals `value`
  };
  const char* name;
  kind_t kind = allow;
  unsigned arg = 0;
  unsigned long long value = 0;
  int error = 0;
  unsigned long long mask = 0;
};

struct syscall_list {
  std::vector<syscall_rule> rules;
  // Let kill, tkill and tgkill reach this process only (abort() signals
  // itself); the pid is taken when the list is loaded.
  bool signal_self = false;
  // Apply to every thread of the process, not only the caller.
  bool all_threads = false;
};

// Loads the list. False, with errno, when libseccomp cannot build or load
// it (ENOSYS: the kernel, or an emulator such as valgrind, has no seccomp
// filters); the caller must then not go on to untrusted input as it would
// with the list.
bool load_syscall_filter(const syscall_list& list);

// Adds rules to a list (for composing lists from shared parts).
void add_rules(syscall_list& list, std::initializer_list<syscall_rule> rules);
