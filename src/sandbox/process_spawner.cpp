// A spawner of sandboxed workers (see process_spawner.hpp).
#include "sandbox/process_spawner.hpp"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>

#include "common/descriptor_passing.hpp"
#include "sandbox/drop_privileges.hpp"
#include "sandbox/syscall_filter.hpp"
#include "sandbox/syscall_lists.hpp"

namespace {

volatile std::sig_atomic_t child_ended = 0;

void note_child_end(int /*signal*/) { child_ended = 1; }

// `attached`: none, or the process's channel end and its pidfd.
bool send_note(int channel, const spawner_note& note, const int* attached = nullptr) {
  std::span<const int> fds(attached, attached != nullptr ? 2 : 0);
  return send_with_descriptors(channel, &note, sizeof note, fds);
}

// Every descriptor but the standard ones and `keep`.
void close_others(int keep) {
  if (keep > 3) (void)close_range(3, static_cast<unsigned>(keep - 1), 0);
  (void)close_range(static_cast<unsigned>(keep + 1), ~0U, 0);
}

// In the new worker: from here on it answers only to `channel`.
[[noreturn]] void become_worker(int channel, const sigset_t& old_mask, const spawned_role& role) {
  (void)prctl(PR_SET_PDEATHSIG, SIGKILL, 0, 0, 0);
  (void)prctl(PR_SET_NAME, role.worker_name, 0, 0, 0);
  struct sigaction default_action {};
  default_action.sa_handler = SIG_DFL;
  (void)sigaction(SIGCHLD, &default_action, nullptr);
  (void)pthread_sigmask(SIG_SETMASK, &old_mask, nullptr);
  close_others(channel);
  role.serve(channel);
  _exit(1);  // a serve function does not return
}

void spawn(int channel, const sigset_t& old_mask, const spawned_role& role) {
  int ends[2];
  if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends) != 0) {
    (void)send_note(channel, {spawner_note::spawn_failed, 0, 0});
    return;
  }
  pid_t pid = fork();
  if (pid == 0) {
    (void)fcntl(ends[1], F_SETFD, 0);
    become_worker(ends[1], old_mask, role);
  }
  // The pidfd lets the daemon end this very process even after its pid has
  // been reaped and reused; it is taken before SIGCHLD can be handled.
  int process = pid > 0 ? static_cast<int>(syscall(SYS_pidfd_open, pid, 0)) : -1;
  if (process < 0) {
    if (pid > 0) (void)kill(pid, SIGKILL);
    (void)send_note(channel, {spawner_note::spawn_failed, 0, 0});
  } else {
    int attached[2] = {ends[0], process};
    (void)send_note(channel, {spawner_note::spawned, pid, 0}, attached);
    close(process);
  }
  close(ends[0]);
  close(ends[1]);
}

void report_ended(int channel) {
  child_ended = 0;
  int status = 0;
  pid_t pid;
  while ((pid = waitpid(-1, &status, WNOHANG)) > 0) {
    (void)send_note(channel, {spawner_note::ended, pid, status});
  }
}

// The parent's handlers write into descriptors that are closed here and
// whose numbers may come back as channels: none of them may run here.
void ignore_parent_signals() {
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  for (int number : {SIGTERM, SIGHUP, SIGINT, SIGUSR1, SIGUSR2, SIGPIPE}) {
    (void)sigaction(number, &ignore, nullptr);
  }
}

[[noreturn]] void serve_spawn_requests(int channel, const unprivileged_account& account,
                                       const spawned_role& role, pid_t parent) {
  ignore_parent_signals();
  close_others(channel);
  if (!drop_privileges(account)) _exit(1);
  // After the identity change, which clears it; a parent already gone
  // leaves nobody to serve.
  (void)prctl(PR_SET_PDEATHSIG, SIGKILL, 0, 0, 0);
  if (getppid() != parent) _exit(0);
  (void)prctl(PR_SET_NAME, role.spawner_name, 0, 0, 0);

  sigset_t child_signal;
  sigset_t old_mask;
  sigemptyset(&child_signal);
  sigaddset(&child_signal, SIGCHLD);
  (void)pthread_sigmask(SIG_BLOCK, &child_signal, &old_mask);
  struct sigaction on_child {};
  on_child.sa_handler = note_child_end;
  (void)sigaction(SIGCHLD, &on_child, nullptr);
  if (!load_syscall_filter(spawner_calls())) _exit(1);

  sigset_t waiting_mask = old_mask;
  sigdelset(&waiting_mask, SIGCHLD);
  for (;;) {
    pollfd watch{channel, POLLIN, 0};
    int ready = ppoll(&watch, 1, nullptr, &waiting_mask);
    if (child_ended != 0) report_ended(channel);
    if (ready <= 0) continue;
    char request = 0;
    ssize_t received = recv(channel, &request, 1, 0);
    if (received == 0 || (received < 0 && errno != EINTR && errno != EAGAIN)) _exit(0);
    if (received == 1 && request == spawn_request) spawn(channel, old_mask, role);
  }
}

}  // namespace

int start_process_spawner(const unprivileged_account& account, const spawned_role& role,
                          pid_t& spawner_pid) {
  int ends[2];
  if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends) != 0) return -1;
  pid_t parent = getpid();
  pid_t pid = fork();
  if (pid == 0) {
    close(ends[0]);
    serve_spawn_requests(ends[1], account, role, parent);
  }
  int error = errno;
  close(ends[1]);
  if (pid < 0) {
    close(ends[0]);
    errno = error;
    return -1;
  }
  spawner_pid = pid;
  return ends[0];
}
