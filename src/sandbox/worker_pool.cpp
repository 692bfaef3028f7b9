// Sandboxed helper processes that answer once (see worker_pool.hpp).
#include "sandbox/worker_pool.hpp"

void finish_worker(const spawned_worker& worker) {
  kill_worker(worker);
  close_worker(worker);
}
