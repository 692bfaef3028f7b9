// Sandboxed helper processes that answer once (see worker_pool.hpp).
#include "sandbox/worker_pool.hpp"

#include <vector>

#include "sandbox/channel_wait.hpp"

void finish_worker(const spawned_worker& worker) {
  kill_worker(worker);
  close_worker(worker);
}

std::optional<spawned_worker> worker_pool::take() {
  unsigned spawner_generation = spawner_.generation();
  std::vector<spawned_worker> dropped;
  std::optional<spawned_worker> found;
  {
    std::lock_guard hold(lock_);
    while (!found && !ready_.empty()) {
      spawned_worker one = ready_.front();
      ready_.pop_front();
      if (one.generation != spawner_generation || has_news(one.channel)) {
        dropped.push_back(one);
      } else {
        found = one;
      }
    }
  }
  for (const spawned_worker& old : dropped) finish_worker(old);
  if (!found) found = spawner_.spawn();
  return found;
}

void worker_pool::replenish() {
  for (;;) {
    {
      std::lock_guard hold(lock_);
      if (ready_.size() >= ready_kept_) return;
    }
    std::optional<spawned_worker> fresh = spawner_.spawn();
    if (!fresh) return;
    std::optional<spawned_worker> surplus;
    {
      std::lock_guard hold(lock_);
      ready_.push_back(*fresh);
      if (ready_.size() > ready_kept_) {
        surplus = ready_.front();
        ready_.pop_front();
      }
    }
    if (surplus) finish_worker(*surplus);
  }
}

void worker_pool::stop() {
  {
    std::lock_guard hold(lock_);
    for (const spawned_worker& one : ready_) finish_worker(one);
    ready_.clear();
  }
  spawner_.stop();
}
