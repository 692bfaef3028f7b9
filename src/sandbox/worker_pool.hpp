// Idle sandboxed workers kept for reuse, in front of their spawner.
//
// take gives an idle worker (the most recently used) or a new one from the
// spawner (sandbox/spawner_client.hpp); give_back returns a worker that
// answered, to be kept while fewer than `idle_kept` are idle, for at most
// `idle_lifetime`, and for at most `uses_per_worker` questions in all. An
// idle worker that died or sent anything unasked is never handed out, nor
// is one whose spawner was found gone (it ended with its spawner). A worker
// that failed in any way is never given back: its caller kills and closes
// it (kill_worker, close_worker). Workers retired here for their age or
// their uses are closed, which ends them; the others dropped are killed.
//
// Any thread may call; a private lock covers the idle list only, never a
// spawn or a question.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <deque>
#include <mutex>
#include <optional>

#include "sandbox/spawner_client.hpp"

struct worker_pool_limits {
  std::size_t idle_kept;
  std::chrono::seconds idle_lifetime;
  int uses_per_worker;
};

struct pooled_worker {
  spawned_worker worker;
  int uses = 0;
  std::chrono::steady_clock::time_point idle_since{};
};

class worker_pool {
 public:
  explicit worker_pool(worker_pool_limits limits) : limits_(limits) {}

  // From now on spawners come from `supply` (spawner_client::start).
  void start(spawner_supply supply) { spawner_.start(supply); }
  std::optional<pooled_worker> take();
  void give_back(pooled_worker one);
  // How a worker ended, as its spawner reports it (spawner_client).
  std::optional<int> end_status(pid_t pid) { return spawner_.end_status(pid); }
  // Kills the idle workers and closes the spawner's channel, which ends
  // it; no worker comes until start is called again.
  void stop();

 private:
  worker_pool_limits limits_;
  std::mutex lock_;  // the idle list
  std::deque<pooled_worker> idle_;
  spawner_client spawner_;
};
