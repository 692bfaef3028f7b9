// Starting a spawner program (see process_spawner.hpp).
#include "sandbox/process_spawner.hpp"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

#include "sandbox/drop_privileges.hpp"
#include "sandbox/program_path.hpp"

namespace {

// The parent's handlers write into descriptors that are closed here and
// whose numbers may come back as channels: none of them may run before
// the exec. What is ignored stays ignored in the spawner.
void ignore_parent_signals() {
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  for (int number : {SIGTERM, SIGHUP, SIGINT, SIGUSR1, SIGUSR2, SIGPIPE}) {
    (void)sigaction(number, &ignore, nullptr);
  }
  struct sigaction default_action {};
  default_action.sa_handler = SIG_DFL;
  (void)sigaction(SIGCHLD, &default_action, nullptr);
}

// In the child: `channel` at spawner_channel_fd, every other descriptor
// but the standard ones closed.
bool place_channel(int channel) {
  if (channel == spawner_channel_fd) {
    if (fcntl(channel, F_SETFD, 0) != 0) return false;
  } else if (dup2(channel, spawner_channel_fd) != spawner_channel_fd) {
    return false;
  }
  return close_range(spawner_channel_fd + 1, ~0U, 0) == 0;
}

[[noreturn]] void become_spawner(int channel, const unprivileged_account& account, pid_t parent,
                                 const char* path, char* const* arguments) {
  ignore_parent_signals();
  if (!place_channel(channel)) _exit(1);
  if (!drop_privileges(account)) _exit(1);
  // After the identity change, which clears it; a parent already gone
  // leaves nobody to serve.
  (void)prctl(PR_SET_PDEATHSIG, SIGKILL, 0, 0, 0);
  if (getppid() != parent) _exit(0);
  sigset_t none;
  sigemptyset(&none);
  (void)pthread_sigmask(SIG_SETMASK, &none, nullptr);
  char* no_environment[] = {nullptr};
  execve(path, arguments, no_environment);
  _exit(127);
}

}  // namespace

int start_process_spawner(const unprivileged_account& account, const spawned_role& role,
                          pid_t& spawner_pid, const std::string& program_directory) {
  std::string path = program_path(program_directory, spawner_program);
  std::string name = spawner_program;
  std::string helper = role.helper;
  char* arguments[] = {name.data(), helper.data(), nullptr};
  int ends[2];
  if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends) != 0) return -1;
  pid_t parent = getpid();
  pid_t pid = fork();
  if (pid == 0) {
    close(ends[0]);
    become_spawner(ends[1], account, parent, path.c_str(), arguments);
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

int start_process_spawner(const unprivileged_account& account, const spawned_role& role,
                          pid_t& pid) {
  return start_process_spawner(account, role, pid, find_program_directory(spawner_program));
}
