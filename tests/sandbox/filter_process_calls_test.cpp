// The filter process's system-call list: threads and sockets work, and each
// call that could widen what a compromised process can do kills it.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sched.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <string>
#include <thread>

#include "sandbox/syscall_lists.hpp"

namespace {

// Runs `body` in a child under the list; returns its wait status.
template <typename Body>
int under_filter_list(Body body) {
  pid_t child = fork();
  if (child == 0) {
    if (!load_syscall_filter(filter_process_calls())) _exit(90);
    _exit(body());
  }
  int status = 0;
  waitpid(child, &status, 0);
  return status;
}

struct forbidden_case {
  const char* name;
  long number;
  long arg0;
};

class forbidden_calls : public testing::TestWithParam<forbidden_case> {};

TEST_P(forbidden_calls, kill_the_process) {
  const forbidden_case& c = GetParam();
  int status = under_filter_list(
      [&] { return static_cast<int>(syscall(c.number, c.arg0, 0, 0, 0)) == -1 ? 1 : 0; });
  ASSERT_TRUE(WIFSIGNALED(status)) << "exit " << WEXITSTATUS(status);
  EXPECT_EQ(WTERMSIG(status), SIGSYS);
}

INSTANTIATE_TEST_SUITE_P(
    filter_process, forbidden_calls,
    testing::Values(
        forbidden_case{"execve", SYS_execve, 0}, forbidden_case{"execveat", SYS_execveat, 0},
        forbidden_case{"ptrace", SYS_ptrace, 0}, forbidden_case{"mount", SYS_mount, 0},
        forbidden_case{"umount2", SYS_umount2, 0}, forbidden_case{"chroot", SYS_chroot, 0},
        forbidden_case{"pivot_root", SYS_pivot_root, 0}, forbidden_case{"setuid", SYS_setuid, 0},
        forbidden_case{"setresgid", SYS_setresgid, 0},
        forbidden_case{"setgroups", SYS_setgroups, 0},
        forbidden_case{"init_module", SYS_init_module, 0},
        forbidden_case{"finit_module", SYS_finit_module, 0},
        forbidden_case{"kexec_load", SYS_kexec_load, 0}, forbidden_case{"bpf", SYS_bpf, 0},
        forbidden_case{"keyctl", SYS_keyctl, 0}, forbidden_case{"personality", SYS_personality, 0},
        forbidden_case{"reboot", SYS_reboot, 0},
        // the listener comes listening from the monitor: no socket of its own
        forbidden_case{"listen", SYS_listen, 0},
        // fork: clone without CLONE_THREAD
        forbidden_case{"clone_a_process", SYS_clone, SIGCHLD},
        forbidden_case{"clone_a_namespace", SYS_clone, CLONE_THREAD | CLONE_NEWNET},
        forbidden_case{"socket_netlink", SYS_socket, AF_NETLINK}),
    [](const testing::TestParamInfo<forbidden_case>& param_info) {
      return std::string(param_info.param.name);
    });

TEST(filter_process_list, lets_threads_sockets_and_reading_work) {
  int status = under_filter_list([] {
    int result = 0;
    std::thread worker([&] { result = 1; });
    worker.join();
    int dns = socket(AF_INET, SOCK_DGRAM, 0);
    int log = socket(AF_UNIX, SOCK_DGRAM, 0);
    int file = open("/proc/self/status", O_RDONLY);
    return result == 1 && dns >= 0 && log >= 0 && file >= 0 ? 0 : 1;
  });
  ASSERT_TRUE(WIFEXITED(status)) << "signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
