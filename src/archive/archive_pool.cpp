// The daemon's archive listers (see archive_pool.hpp).
#include "archive/archive_pool.hpp"

#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <optional>
#include <string>

#include "archive/archive_asker.hpp"
#include "archive/archive_lister.hpp"
#include "archive/archive_wire.hpp"
#include "sandbox/process_spawner.hpp"
#include "sandbox/spawner_client.hpp"

namespace {

using clock_type = std::chrono::steady_clock;

const spawned_role lister_role{"teslo-arspawner", "teslo-archive", serve_archive_listing};

// Never destroyed: worker threads may still be listing at exit.
spawner_client& the_spawner() {
  static auto* const client = new spawner_client;
  return *client;
}

archive_listing failure(std::string why) {
  archive_listing listing;
  listing.problem = std::move(why);
  return listing;
}

struct fd_closer {
  int fd;
  ~fd_closer() {
    if (fd >= 0) close(fd);
  }
};

// A sealed memory file holding `content`; -1 on failure.
int memory_file(const std::string& content) {
  int fd = memfd_create("teslo-archive", MFD_CLOEXEC | MFD_ALLOW_SEALING);
  if (fd < 0) return -1;
  std::size_t written = 0;
  while (written < content.size()) {
    ssize_t n = write(fd, content.data() + written, content.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      close(fd);
      return -1;
    }
    written += static_cast<std::size_t>(n);
  }
  (void)fcntl(fd, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE | F_SEAL_SEAL);
  return fd;
}

bool answered_by(int channel, clock_type::time_point deadline) {
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock_type::now());
    pollfd watch{channel, POLLIN, 0};
    int ready = poll(&watch, 1, left.count() > 0 ? static_cast<int>(left.count()) : 0);
    if (ready > 0) return true;
    if (ready == 0) return false;
    if (errno != EINTR) return true;  // the read that follows reports it
  }
}

std::string death_of(spawner_client& spawner, pid_t pid) {
  std::optional<int> status = spawner.end_status(pid);
  if (status && WIFSIGNALED(*status)) {
    return std::string("the lister was killed by signal ") + std::to_string(WTERMSIG(*status));
  }
  return "the lister ended without an answer";
}

archive_listing list_in_lister(const std::string& content, const char* extensions) {
  fd_closer file{memory_file(content)};
  if (file.fd < 0) return failure("no memory file for the archive");
  spawner_client& spawner = the_spawner();
  std::optional<spawned_worker> worker = spawner.spawn();
  if (!worker) return failure("no lister process");
  auto deadline = clock_type::now() + std::chrono::seconds(lister_wait_seconds);
  archive_listing listing;
  bool sent = send_archive_question(worker->channel, file.fd, content.size(), extensions);
  if (sent && !answered_by(worker->channel, deadline)) {
    listing = failure("the listing took over " + std::to_string(lister_wait_seconds) + " seconds");
  } else if (!sent || !receive_archive_answer(worker->channel, listing)) {
    kill_worker(*worker);
    listing = failure(death_of(spawner, worker->pid));
  }
  kill_worker(*worker);
  close_worker(*worker);
  return listing;
}

}  // namespace

bool start_archive_listers(const unprivileged_account& account) {
  pid_t spawner_pid = -1;
  int spawner = start_process_spawner(account, lister_role, spawner_pid);
  if (spawner < 0) return false;
  the_spawner().start(spawner, spawner_pid);
  set_archive_lister(list_in_lister);
  return true;
}

void stop_archive_listers() {
  set_archive_lister(nullptr);
  the_spawner().stop();
}
