// The spawner's service (see spawn_loop.hpp).
#include "spawner/spawn_loop.hpp"

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
#include <span>

#include "common/descriptor_passing.hpp"
#include "sandbox/process_spawner.hpp"

namespace {

volatile std::sig_atomic_t child_ended = 0;

void note_child_end(int /*signal*/) { child_ended = 1; }

// `attached`: none, or the helper's channel end and its pidfd.
bool send_note(int channel, const spawner_note& note, const int* attached = nullptr) {
  std::span<const int> fds(attached, attached != nullptr ? 2 : 0);
  return send_with_descriptors(channel, &note, sizeof note, fds);
}

struct helper_start {
  const char* path;
  char* const* arguments;
  pid_t spawner;
};

// In the new child: from here on it answers only to `channel`.
[[noreturn]] void become_helper(int channel, const helper_start& start) {
  struct sigaction default_action {};
  default_action.sa_handler = SIG_DFL;
  for (int number : {SIGCHLD, SIGTERM, SIGHUP, SIGINT, SIGUSR1, SIGUSR2, SIGPIPE}) {
    (void)sigaction(number, &default_action, nullptr);
  }
  (void)prctl(PR_SET_PDEATHSIG, SIGKILL, 0, 0, 0);
  if (getppid() != start.spawner) _exit(0);
  if (channel != helper_channel_fd && dup2(channel, helper_channel_fd) != helper_channel_fd) {
    _exit(127);
  }
  (void)fcntl(helper_channel_fd, F_SETFD, 0);
  (void)close_range(helper_channel_fd + 1, ~0U, 0);
  sigset_t none;
  sigemptyset(&none);
  (void)pthread_sigmask(SIG_SETMASK, &none, nullptr);
  char* no_environment[] = {nullptr};
  execve(start.path, start.arguments, no_environment);
  _exit(127);
}

void spawn(int channel, const helper_start& start) {
  int ends[2];
  if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends) != 0) {
    (void)send_note(channel, {spawner_note::spawn_failed, 0, 0});
    return;
  }
  pid_t pid = fork();
  if (pid == 0) become_helper(ends[1], start);
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

}  // namespace

void serve_spawn_requests(int channel, const std::string& helper_path) {
  std::string name = helper_path.substr(helper_path.rfind('/') + 1);
  char* arguments[] = {name.data(), nullptr};
  const helper_start start{helper_path.c_str(), arguments, getpid()};

  sigset_t child_signal;
  sigset_t old_mask;
  sigemptyset(&child_signal);
  sigaddset(&child_signal, SIGCHLD);
  (void)pthread_sigmask(SIG_BLOCK, &child_signal, &old_mask);
  struct sigaction on_child {};
  on_child.sa_handler = note_child_end;
  (void)sigaction(SIGCHLD, &on_child, nullptr);

  sigset_t waiting_mask = old_mask;
  sigdelset(&waiting_mask, SIGCHLD);
  for (;;) {
    pollfd watch{channel, POLLIN, 0};
    int ready = ppoll(&watch, 1, nullptr, &waiting_mask);
    if (child_ended != 0) report_ended(channel);
    if (ready <= 0) continue;
    char request = 0;
    ssize_t received = recv(channel, &request, 1, 0);
    if (received == 0 || (received < 0 && errno != EINTR && errno != EAGAIN)) return;
    if (received == 1 && request == spawn_request) spawn(channel, start);
  }
}
