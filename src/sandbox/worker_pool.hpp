// Sandboxed helper processes that answer once, in front of their spawner.
//
// take gives a worker that has never answered: one started ahead, or a new
// one from the spawner (sandbox/spawner_client.hpp). A worker is used for
// one question only: its caller ends it afterwards with finish_worker
// (SIGKILL through its pidfd, its channel and pidfd closed), whatever the
// outcome, so nothing one question leaves in a process reaches another.
// replenish asks the spawner, without waiting, for workers until
// `ready_kept` are started ahead (0: none is); a caller calls it once its
// own answer is in. A worker started ahead that died or sent anything
// unasked is never handed out, nor is one whose spawner ended (it ended
// with its spawner).
//
// Any thread may call; the spawner client takes its own lock.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <optional>

#include "sandbox/spawner_client.hpp"

class worker_pool {
 public:
  explicit worker_pool(std::size_t ready_kept) : ready_kept_(ready_kept) {}

  // From now on spawners come from `supply` (spawner_client::start).
  void start(spawner_supply supply) { spawner_.start(supply); }
  std::optional<spawned_worker> take() { return spawner_.spawn(); }
  void replenish() { spawner_.start_ahead(ready_kept_); }
  // How a worker ended, as its spawner reports it (spawner_client).
  std::optional<int> end_status(pid_t pid) { return spawner_.end_status(pid); }
  // Ends the workers started ahead and closes the spawner's channel, which
  // ends it; no worker comes until start is called again.
  void stop() { spawner_.stop(); }

 private:
  std::size_t ready_kept_;
  spawner_client spawner_;
};

// Ends a worker: SIGKILL through its pidfd, then its descriptors closed.
void finish_worker(const spawned_worker& worker);
