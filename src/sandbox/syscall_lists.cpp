// The system-call lists (see syscall_lists.hpp).
#include "sandbox/syscall_lists.hpp"

#include <fcntl.h>
#include <sched.h>
#include <linux/sockios.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/socket.h>

#include <cerrno>

namespace {

constexpr unsigned long long namespace_flags = CLONE_NEWNS | CLONE_NEWUTS | CLONE_NEWIPC |
                                               CLONE_NEWUSER | CLONE_NEWPID | CLONE_NEWNET |
                                               CLONE_NEWCGROUP | CLONE_NEWTIME;

constexpr unsigned long long write_flags = O_WRONLY | O_RDWR | O_CREAT | O_TRUNC | O_APPEND;

// Memory, clocks, signals of its own, the end of the process.
void add_process_basics(syscall_list& list) {
  add_rules(list, {{"brk"},         {"mmap"},           {"munmap"},         {"mremap"},
                   {"mprotect"},    {"madvise"},        {"clock_gettime"},  {"clock_nanosleep"},
                   {"nanosleep"},   {"gettimeofday"},   {"time"},           {"getpid"},
                   {"gettid"},      {"getuid"},         {"geteuid"},        {"getgid"},
                   {"getegid"},     {"getrandom"},      {"futex"},          {"set_robust_list"},
                   {"rseq"},        {"rt_sigreturn"},   {"rt_sigprocmask"}, {"rt_sigaction"},
                   {"sigaltstack"}, {"alarm"},          {"setitimer"},      {"sched_yield"},
                   {"uname"},       {"getrlimit"},      {"prlimit64"},      {"exit"},
                   {"exit_group"},  {"restart_syscall"}});
  list.signal_self = true;
}

// The channel and DNS over UDP and TCP.
void add_channel_and_dns(syscall_list& list) {
  add_rules(list, {{"read"},        {"write"},       {"readv"},   {"writev"},     {"recvfrom"},
                   {"recvmsg"},     {"recvmmsg"},    {"sendto"},  {"sendmsg"},    {"sendmmsg"},
                   {"close"},       {"shutdown"},    {"connect"}, {"poll"},       {"ppoll"},
                   {"select"},      {"pselect6"},    {"fcntl"},   {"getsockopt"}, {"setsockopt"},
                   {"getsockname"}, {"getpeername"}, {"lseek"},   {"fstat"},      {"newfstatat"},
                   {"stat"},        {"statx"},       {"bind"}});
  add_rules(list, {{"socket", syscall_rule::allow_if_arg, 0, AF_INET},
                   {"socket", syscall_rule::allow_if_arg, 0, AF_INET6},
                   {"ioctl", syscall_rule::allow_if_arg, 1, FIONREAD},
                   // When a UDP answer arrived (dns/udp_query.cpp, for the blocklist).
                   {"ioctl", syscall_rule::allow_if_arg, 1, SIOCGSTAMP}});
}

// The SPF evaluation's own needs besides the basics: its channel (send and
// receive on a socket pair) and DNS as dns/resolver_source.hpp asks it:
// UDP and TCP sockets of the Internet families, connected, with send,
// receive and poll, the error of a TCP connect (SO_ERROR) and glibc's
// request for ICMP errors (IP_RECVERR); closing them. res_nsend, which
// asks again what UDP did not settle, writes a TCP question with writev
// and reads its answer with read.
void add_evaluation_channel_and_dns(syscall_list& list) {
  add_rules(list, {{"sendto"},
                   {"recvfrom"},
                   {"connect"},
                   {"poll"},
                   {"getsockopt"},
                   {"setsockopt"},
                   {"close"},
                   {"socket", syscall_rule::allow_if_arg, 0, AF_INET},
                   {"socket", syscall_rule::allow_if_arg, 0, AF_INET6}});
}

// Sanitizer builds (never installed): UBSan's check of a polymorphic
// object's type (the evaluation's DNS source) probes memory by writing it
// to a pipe, and the AddressSanitizer runtime, starting in a helper program
// under its spawner's list, reads its own executable's name. The spawner's
// list allows them too, since a helper runs under both.
void add_sanitizer_probes([[maybe_unused]] syscall_list& list) {
#if defined(__SANITIZE_ADDRESS__)
  add_rules(list, {{"pipe2"}, {"write"}, {"readlink"}});
#endif
}

// Files opened for reading only, and existence checks.
void add_file_reading(syscall_list& list) {
  add_rules(list, {{"open", syscall_rule::allow_if_clear, 1, write_flags},
                   {"openat", syscall_rule::allow_if_clear, 2, write_flags},
                   {"access"},
                   {"faccessat"},
                   {"faccessat2"}});
}

// What a helper program does between its exec and the load of its own
// list, all under the spawner's: the dynamic loader maps its libraries
// (files opened for reading, pread64, mmap and mprotect), glibc sets up the
// thread (arch_prctl, set_tid_address); then the helper's own start:
// non-dumpable again (an exec makes a process dumpable), its resolver
// state read from /etc/resolv.conf (evaluator), its limits and the warm-up
// listing, which loads the character conversion modules (lister), and the
// load of its list (no_new_privs, seccomp).
void add_program_start(syscall_list& list) {
  add_file_reading(list);
  add_rules(list, {{"execve"},
                   {"arch_prctl"},
                   {"set_tid_address"},
                   {"read"},
                   {"pread64"},
                   {"close"},
                   {"fstat"},
                   {"newfstatat"},
                   {"lseek"},
                   {"setrlimit"},
                   {"seccomp"},
                   {"prctl", syscall_rule::allow_if_arg, 0, PR_SET_NO_NEW_PRIVS},
                   {"prctl", syscall_rule::allow_if_arg, 0, PR_SET_SECCOMP},
                   {"prctl", syscall_rule::allow_if_arg, 0, PR_SET_DUMPABLE},
                   {"prctl", syscall_rule::allow_if_arg, 0, PR_SET_NAME}});
}

}  // namespace

syscall_list spf_evaluator_calls() {
  syscall_list list;
  add_process_basics(list);
  add_evaluation_channel_and_dns(list);
  add_sanitizer_probes(list);
  // Nothing is opened after the start (the resolver state is read before
  // the list is loaded); should glibc try, it is refused softly.
  add_rules(list, {{"open", syscall_rule::refuse, 0, 0, EACCES},
                   {"openat", syscall_rule::refuse, 0, 0, EACCES},
                   {"access", syscall_rule::refuse, 0, 0, EACCES},
                   {"faccessat", syscall_rule::refuse, 0, 0, EACCES},
                   {"faccessat2", syscall_rule::refuse, 0, 0, EACCES}});
  return list;
}

syscall_list archive_lister_calls() {
  syscall_list list;
  add_process_basics(list);
  add_rules(list, {{"read"},
                   {"write"},
                   {"recvmsg"},
                   {"sendmsg"},
                   {"close"},
                   {"fstat"},
                   {"newfstatat"},
                   {"lseek"},
                   {"fcntl"},
                   {"open", syscall_rule::refuse, 0, 0, EACCES},
                   {"openat", syscall_rule::refuse, 0, 0, EACCES}});
  return list;
}

syscall_list spawner_calls(const syscall_list& helper) {
  syscall_list list;
  add_process_basics(list);
  add_sanitizer_probes(list);
  add_program_start(list);
  add_rules(list, {{"clone", syscall_rule::allow_if_clear, 0, namespace_flags},
                   {"clone3", syscall_rule::refuse, 0, 0, ENOSYS},
                   {"wait4"},
                   {"waitid"},
                   {"socketpair", syscall_rule::allow_if_arg, 0, AF_UNIX},
                   {"pidfd_open"},
                   {"ppoll"},
                   {"recvfrom"},
                   {"sendmsg"},
                   {"getppid"},
                   {"dup2"},
                   {"dup3"},
                   {"fcntl"},
                   {"close_range"},
                   {"prctl", syscall_rule::allow_if_arg, 0, PR_SET_PDEATHSIG}});
  // Filters stack: what the helper may do under its own list must pass
  // this one too. Its refusals need no copy here, since the stricter
  // answer of the two filters counts.
  for (const syscall_rule& rule : helper.rules) {
    if (rule.kind != syscall_rule::refuse) list.rules.push_back(rule);
  }
  // A helper's own list keeps its signals to itself; the spawner may end
  // any of its helpers.
  list.signal_self = false;
  add_rules(list, {{"kill"}, {"tgkill"}, {"tkill"}});
  return list;
}

syscall_list filter_process_calls() {
  syscall_list list;
  add_process_basics(list);
  add_channel_and_dns(list);
  // Reloads read the configuration files; nothing is written.
  add_file_reading(list);
  add_rules(
      list,
      {// Threads only: a clone that makes a process (or a namespace) is
       // not in the list; glibc tries clone3 first and falls back on ENOSYS.
       {"clone", syscall_rule::allow_if_masked, 0, CLONE_THREAD, 0, CLONE_THREAD | namespace_flags},
       {"clone3", syscall_rule::refuse, 0, 0, ENOSYS},
       // Sendmail's connections, the log socket; the sandboxed workers
       // through their pidfds (the monitor starts their spawners and waits
       // for them).
       {"accept"},
       {"accept4"},
       {"socket", syscall_rule::allow_if_arg, 0, AF_UNIX},
       {"pidfd_send_signal"},
       // An archive goes to its lister as a memory file.
       {"memfd_create"},
       {"rt_sigtimedwait"},
       {"sched_getaffinity"},
       {"pipe2"},
       {"dup"},
       {"dup3"},
       {"getppid"},
       {"getresuid"},
       {"getresgid"},
       {"sysinfo"},
       {"getdents64"},
       {"getcwd"},
       {"readlink"},
       {"fstatfs"},
       // libmilter removes the socket as a non-root process at stop:
       // that is the monitor's job.
       {"unlink", syscall_rule::refuse, 0, 0, EACCES},
       {"unlinkat", syscall_rule::refuse, 0, 0, EACCES}});
  return list;
}
