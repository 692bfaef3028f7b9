// The daemon's archive listers (see archive_pool.hpp).
#include "archive/archive_pool.hpp"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <optional>
#include <string>

#include "archive/archive_asker.hpp"
#include "archive/archive_wire.hpp"
#include "sandbox/channel_wait.hpp"
#include "sandbox/spawner_client.hpp"
#include "sandbox/worker_pool.hpp"

namespace {

using clock_type = std::chrono::steady_clock;

// Listers started ahead of the archives: a lister's start (exec, the
// dynamic loader, the warm-up listing, its list) stays off an archive's
// path. Archives are rarer than SPF questions, so fewer wait.
constexpr std::size_t listers_ready = 2;

std::atomic<bool> listers_started{false};

// Never destroyed: worker threads may still be listing at exit.
worker_pool& the_pool() {
  static auto* const pool = new worker_pool(listers_ready);
  return *pool;
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

std::string death_of(worker_pool& pool, pid_t pid) {
  std::optional<int> status = pool.end_status(pid);
  if (status && WIFSIGNALED(*status)) {
    return std::string("the lister was killed by signal ") + std::to_string(WTERMSIG(*status));
  }
  return "the lister ended without an answer";
}

archive_listing list_in_started_lister(const std::string& content, const char* extensions) {
  fd_closer file{memory_file(content)};
  if (file.fd < 0) return failure("no memory file for the archive");
  worker_pool& pool = the_pool();
  // A lister that died before its archive fails the send; a second one is
  // asked.
  std::optional<spawned_worker> lister;
  for (int attempt = 0; attempt < 2 && !lister; ++attempt) {
    lister = pool.take();
    if (!lister) return failure("no lister process");
    if (!send_archive_question(lister->channel, file.fd, content.size(), extensions)) {
      finish_worker(*lister);
      lister.reset();
    }
  }
  if (!lister) return failure("no lister process took the archive");
  auto deadline = clock_type::now() + std::chrono::seconds(lister_wait_seconds);
  if (!readable_by(lister->channel, deadline)) {
    finish_worker(*lister);
    std::string why = "the listing took over ";
    return failure(why.append(std::to_string(lister_wait_seconds)).append(" seconds"));
  }
  archive_listing listing;
  bool answered = receive_archive_answer(lister->channel, listing);
  // A lister answers once: it is finished either way.
  finish_worker(*lister);
  pool.replenish();
  if (answered) return listing;
  return failure(death_of(pool, lister->pid));
}

}  // namespace

void start_archive_listers(spawner_supply supply) {
  the_pool().start(supply);
  listers_started.store(true);
}

void stop_archive_listers() {
  listers_started.store(false);
  the_pool().stop();
}

bool archive_listers_started() { return listers_started.load(); }

archive_listing list_in_lister_process(const std::string& content, const char* extensions) {
  if (!listers_started.load()) return failure(no_archive_lister);
  return list_in_started_lister(content, extensions);
}
