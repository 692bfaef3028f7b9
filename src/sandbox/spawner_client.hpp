// The serving process's side of one spawner (sandbox/process_spawner.hpp).
//
// The spawner comes from a supply: in the daemon the root monitor, which
// starts it on request (the serving process may not create processes); in
// tests and benchmarks start_process_spawner called in place. The client
// asks the supply when it needs a spawner and has none: at the first spawn
// and after the spawner's channel was found closed (the spawner ended, and
// its workers with it).
//
// spawn gives a new worker: one started ahead whose note has come, else
// the next note of a request still unanswered, else it asks for one; it
// waits up to two seconds for the note with the worker's channel and
// pidfd. A spawner found gone is replaced from the supply once. A worker
// started ahead that died or sent anything unasked meanwhile is ended and
// skipped. start_ahead asks the current spawner (none is taken from the
// supply for it), without waiting, for workers until `wanted` are started
// ahead (notes come or are owed); their notes are read by a later spawn,
// so a caller's path has only the request's send. Workers
// started ahead by a spawner that ended are dropped with it. end_status
// waits briefly for the spawner's report of how a worker ended, so that a
// fault can name the signal. Reports of other workers that arrive
// meanwhile are kept (the last 64).
//
// Any thread may call; one private lock covers the spawner's channel, the
// supply, the workers started ahead and the kept reports, held a few
// milliseconds at a time (across a spawn, and the supply's own wait, at
// most).
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <deque>
#include <mutex>
#include <optional>
#include <utility>

#include "sandbox/process_spawner.hpp"

// The serving side's end of a new spawner's channel (close-on-exec), or -1
// when none can be had now. Called under the client's lock.
using spawner_supply = int (*)();

struct spawned_worker {
  pid_t pid = -1;
  int channel = -1;  // owned by the caller
  int process = -1;  // pidfd, owned by the caller
};

class spawner_client {
 public:
  // From now on spawners come from `supply` (null: none comes).
  void start(spawner_supply supply);
  std::optional<spawned_worker> spawn();
  void start_ahead(std::size_t wanted);
  // The wait status of a worker that ended; nothing when no report comes
  // within half a second.
  std::optional<int> end_status(pid_t pid);
  // Ends the workers started ahead and closes the channel (the spawner and
  // its workers end); no spawner comes until start is called again.
  void stop();

 private:
  std::optional<spawner_note> read_note_locked();
  std::optional<spawned_worker> take_ready_locked();
  std::optional<spawned_worker> spawn_locked();
  void lose_spawner_locked();

  std::mutex lock_;
  spawner_supply supply_ = nullptr;
  int spawner_ = -1;
  int owed_ = 0;                      // requests sent, notes not read
  std::deque<spawned_worker> ready_;  // started ahead, notes read
  std::deque<std::pair<pid_t, int>> ended_;
};

// Sends SIGKILL to a worker through its pidfd (safe after it was reaped).
void kill_worker(const spawned_worker& worker);
// Closes the worker's channel and pidfd.
void close_worker(const spawned_worker& worker);
