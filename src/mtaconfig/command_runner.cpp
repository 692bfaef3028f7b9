#include "mtaconfig/command_runner.hpp"

#include <cerrno>
#include <csignal>
#include <spawn.h>
#include <sys/types.h>
#include <sys/wait.h>

extern char** environ;

namespace {

// Restores the child's signal state that the calling thread may have
// changed: the restart process blocks SIGHUP, SIGTERM and SIGINT (and the
// monitor holds them outside its wait); a Sendmail started by
// "service sendmail restart" must not inherit that.
class spawn_attributes {
 public:
  spawn_attributes() {
    posix_spawnattr_init(&attributes_);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes_, &none);
    sigset_t defaults;
    sigemptyset(&defaults);
    for (int signal_number : {SIGHUP, SIGTERM, SIGINT, SIGQUIT, SIGPIPE})
      sigaddset(&defaults, signal_number);
    posix_spawnattr_setsigdefault(&attributes_, &defaults);
    posix_spawnattr_setflags(&attributes_, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  }
  ~spawn_attributes() { posix_spawnattr_destroy(&attributes_); }
  spawn_attributes(const spawn_attributes&) = delete;
  spawn_attributes& operator=(const spawn_attributes&) = delete;
  const posix_spawnattr_t* get() const { return &attributes_; }

 private:
  posix_spawnattr_t attributes_;
};

}  // namespace

// What system() does (/bin/sh -c, the same results), with a clean signal
// mask in the child.
int system_command_runner::run(const char* command) {
  spawn_attributes attributes;
  char shell[] = "/bin/sh";
  char flag[] = "-c";
  char* arguments[] = {shell, flag, const_cast<char*>(command), nullptr};
  pid_t child;
  if (posix_spawn(&child, shell, nullptr, attributes.get(), arguments, environ) != 0) return -1;
  int status;
  while (waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return status;
}
