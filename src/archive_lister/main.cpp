// teslo-archive: one archive lister process (its life:
// archive_lister/archive_lister.hpp), listing with list_archive.
//
// Started by the archive spawner (teslo-spawner archive) with an empty
// environment and no argument but its name.
// Descriptors at the exec: 0, 1, 2 as the spawner has them; 3, its channel
// (SOCK_SEQPACKET, archive/archive_wire.hpp) to the serving process. No
// other.
//
// Its life in order: start-up (non-dumpable, limits, warm-up listing, its
// system-call list), serve (one archive, one answer), shut-down (exit 0;
// exit 2 when there is no channel or the list could not be loaded).
#include <sys/stat.h>

#include "archive/archive_listing.hpp"
#include "archive_lister/archive_lister.hpp"
#include "sandbox/helper_program.hpp"

int main() {
  struct stat channel {};
  if (fstat(helper_channel_fd, &channel) != 0 || !S_ISSOCK(channel.st_mode)) return 2;
  run_archive_lister(helper_channel_fd, list_archive);
}
