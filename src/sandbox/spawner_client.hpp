// The serving process's side of one spawner (sandbox/process_spawner.hpp).
//
// spawn asks for a new worker and waits (up to two seconds) for its channel
// and pidfd; end_status waits briefly for the spawner's report of how a
// worker ended, so that a fault can name the signal. Reports of other
// workers that arrive meanwhile are kept (the last 64). When the spawner's
// channel breaks, the client gives up on it: every later spawn fails.
//
// Any thread may call; one private lock covers the spawner's channel and the
// kept reports, held a few milliseconds at a time.
#pragma once

#include <sys/types.h>

#include <deque>
#include <mutex>
#include <optional>
#include <utility>

#include "sandbox/process_spawner.hpp"

struct spawned_worker {
  pid_t pid = -1;
  int channel = -1;  // owned by the caller
  int process = -1;  // pidfd, owned by the caller
};

class spawner_client {
 public:
  // Takes over a started spawner (after stop, or at the first start).
  void start(int spawner, pid_t spawner_pid);
  std::optional<spawned_worker> spawn();
  // The wait status of a worker that ended; nothing when no report comes
  // within half a second.
  std::optional<int> end_status(pid_t pid);
  // Closes the channel (the spawner and its workers end) and reaps the
  // spawner.
  void stop();

 private:
  std::optional<spawner_note> read_note_locked(spawned_worker* fresh);
  void lose_spawner_locked();

  std::mutex lock_;
  int spawner_ = -1;
  pid_t spawner_pid_ = -1;
  std::deque<std::pair<pid_t, int>> ended_;
};

// Sends SIGKILL to a worker through its pidfd (safe after it was reaped).
void kill_worker(const spawned_worker& worker);
// Closes the worker's channel and pidfd.
void close_worker(const spawned_worker& worker);
