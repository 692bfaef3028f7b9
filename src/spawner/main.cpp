// teslo-spawner: starts the sandboxed helper programs of one kind for the
// serving process (the channel and its packets:
// sandbox/process_spawner.hpp; the service: spawner/spawn_loop.hpp).
//
// Started by the root monitor (start_process_spawner) already unprivileged
// (its account, no_new_privs) and with SIGKILL asked for should the monitor
// end; the signals the monitor handles arrive ignored.
//
// Descriptors at the exec: 0, 1, 2 as the monitor has them; 3, the
// spawner's channel (SOCK_SEQPACKET) to the serving process. No other.
// Argument: the kind of helper, "spf" (teslo-spf, process name
// "teslo-spawner") or "archive" (teslo-archive, process name
// "teslo-arspawner"). No environment is read.
//
// Its life in order:
//   1. start-up: checks its argument and its channel; makes itself
//      non-dumpable again (the exec made it dumpable); takes its process
//      name; finds the helper program beside its own executable, else in
//      the installed program directory; loads its system-call list
//      (spawner_calls with the helper's list);
//   2. serve: starts a helper for every request until the channel closes;
//   3. shut-down: exits 0, and its helpers end with it (their parent-death
//      signal). Exit 2: a wrong argument or no channel; 1: the list could
//      not be loaded.
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "sandbox/process_spawner.hpp"
#include "sandbox/program_path.hpp"
#include "sandbox/syscall_filter.hpp"
#include "sandbox/syscall_lists.hpp"
#include "spawner/spawn_loop.hpp"

namespace {

struct helper_kind {
  const char* argument;      // spawned_role::helper
  const char* program;       // the helper's file name
  const char* spawner_name;  // this process's name
  syscall_list (*calls)();   // the helper's own list
};

const helper_kind helper_kinds[] = {
    {"spf", "teslo-spf", "teslo-spawner", spf_evaluator_calls},
    {"archive", "teslo-archive", "teslo-arspawner", archive_lister_calls},
};

const helper_kind* kind_named(const char* argument) {
  for (const helper_kind& kind : helper_kinds) {
    if (std::strcmp(kind.argument, argument) == 0) return &kind;
  }
  return nullptr;
}

bool is_socket(int fd) {
  struct stat status {};
  return fstat(fd, &status) == 0 && S_ISSOCK(status.st_mode);
}

}  // namespace

int main(int argc, char** argv) {
  const helper_kind* kind = argc == 2 ? kind_named(argv[1]) : nullptr;
  if (kind == nullptr || !is_socket(spawner_channel_fd)) return 2;
  if (prctl(PR_SET_DUMPABLE, 0, 0, 0, 0) != 0) return 1;
  (void)prctl(PR_SET_NAME, kind->spawner_name, 0, 0, 0);
  std::string helper = program_path(find_program_directory(kind->program), kind->program);
  if (!load_syscall_filter(spawner_calls(kind->calls()))) return 1;

  serve_spawn_requests(spawner_channel_fd, helper);
  _exit(0);  // nothing to tear down
}
