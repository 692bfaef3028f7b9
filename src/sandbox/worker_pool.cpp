// Idle sandboxed workers kept for reuse (see worker_pool.hpp).
#include "sandbox/worker_pool.hpp"

#include <vector>

#include "sandbox/channel_wait.hpp"

namespace {

using clock_type = std::chrono::steady_clock;

void finish(const pooled_worker& one) {
  kill_worker(one.worker);
  close_worker(one.worker);
}

}  // namespace

std::optional<pooled_worker> worker_pool::take() {
  unsigned spawner_generation = spawner_.generation();
  std::vector<pooled_worker> retired;
  std::optional<pooled_worker> found;
  {
    std::lock_guard hold(lock_);
    auto now = clock_type::now();
    while (!idle_.empty() && now - idle_.front().idle_since > limits_.idle_lifetime) {
      retired.push_back(idle_.front());
      idle_.pop_front();
    }
    while (!found && !idle_.empty()) {
      pooled_worker one = idle_.back();
      idle_.pop_back();
      if (one.worker.generation != spawner_generation || has_news(one.worker.channel)) {
        retired.push_back(one);
      } else {
        found = one;
      }
    }
  }
  for (const pooled_worker& old : retired) finish(old);
  if (!found) {
    std::optional<spawned_worker> fresh = spawner_.spawn();
    if (fresh) found = pooled_worker{*fresh};
  }
  return found;
}

void worker_pool::give_back(pooled_worker one) {
  if (++one.uses >= limits_.uses_per_worker) {
    close_worker(one.worker);
    return;
  }
  one.idle_since = clock_type::now();
  std::optional<pooled_worker> surplus;
  {
    std::lock_guard hold(lock_);
    idle_.push_back(one);
    if (idle_.size() > limits_.idle_kept) {
      surplus = idle_.front();
      idle_.pop_front();
    }
  }
  if (surplus) close_worker(surplus->worker);
}

void worker_pool::stop() {
  {
    std::lock_guard hold(lock_);
    for (const pooled_worker& one : idle_) {
      kill_worker(one.worker);
      close_worker(one.worker);
    }
    idle_.clear();
  }
  spawner_.stop();
}
