// The spawner's system-call list is made for its kind of helper: a helper
// runs under it too (filters are inherited across fork and exec), so the
// SPF evaluators' spawner admits their DNS sockets and the listers' does
// not; neither admits a socket of another family.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include "sandbox/syscall_lists.hpp"

namespace {

// The wait status of a child that loads `list` and makes a socket of
// `family`: exit 0 when it was made.
int socket_under(const syscall_list& list, int family) {
  pid_t child = fork();
  if (child == 0) {
    if (!load_syscall_filter(list)) _exit(90);
    _exit(socket(family, SOCK_DGRAM, 0) >= 0 ? 0 : 1);
  }
  int status = 0;
  waitpid(child, &status, 0);
  return status;
}

TEST(spawner_list, admits_the_sockets_of_its_helpers_only) {
  struct case_t {
    const char* what;
    syscall_list list;
    int family;
    bool allowed;
  } cases[] = {
      {"SPF spawner, IPv4", spawner_calls(spf_evaluator_calls()), AF_INET, true},
      {"SPF spawner, IPv6", spawner_calls(spf_evaluator_calls()), AF_INET6, true},
      {"SPF spawner, netlink", spawner_calls(spf_evaluator_calls()), AF_NETLINK, false},
      {"archive spawner, IPv4", spawner_calls(archive_lister_calls()), AF_INET, false},
  };
  for (const auto& c : cases) {
    int status = socket_under(c.list, c.family);
    if (c.allowed) {
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << c.what;
    } else {
      EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGSYS) << c.what;
    }
  }
}

}  // namespace
