// teslo-spf: one SPF evaluation process (its life:
// spf_evaluator/evaluator_process.hpp).
//
// Started by the SPF spawner (teslo-spawner spf) with an empty environment
// and no argument but its name.
// Descriptors at the exec: 0, 1, 2 as the spawner has them; 3, its channel
// (SOCK_SEQPACKET, spf/evaluator_wire.hpp) to the serving process. No
// other.
//
// Its life in order: start-up (non-dumpable, the resolver's configuration,
// its system-call list), serve (one question, one answer), shut-down (exit
// 0; exit 2 when there is no channel or the list could not be loaded).
#include <sys/stat.h>

#include "sandbox/helper_program.hpp"
#include "spf_evaluator/evaluator_process.hpp"

int main() {
  struct stat channel {};
  if (fstat(helper_channel_fd, &channel) != 0 || !S_ISSOCK(channel.st_mode)) return 2;
  run_spf_evaluator(helper_channel_fd);
}
