// The serving process's side of a spawner (see spawner_client.hpp).
#include "sandbox/spawner_client.hpp"

#include <signal.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "common/descriptor_passing.hpp"
#include "sandbox/channel_wait.hpp"

namespace {

using clock_type = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr milliseconds spawn_wait{2000};
// How long a caller whose worker died waits for the spawner's report of how
// it ended.
constexpr milliseconds end_report_wait{500};
constexpr milliseconds end_report_slice{5};
constexpr std::size_t end_reports_kept = 64;

void close_all(const int (&fds)[2]) {
  for (int fd : fds) {
    if (fd >= 0) close(fd);
  }
}

void finish(const spawned_worker& worker) {
  kill_worker(worker);
  close_worker(worker);
}

}  // namespace

void kill_worker(const spawned_worker& worker) {
  (void)syscall(SYS_pidfd_send_signal, worker.process, SIGKILL, nullptr, 0);
}

void close_worker(const spawned_worker& worker) {
  close(worker.channel);
  close(worker.process);
}

void spawner_client::start(spawner_supply supply) {
  std::lock_guard hold(lock_);
  supply_ = supply;
}

std::optional<spawned_worker> spawner_client::spawn() {
  std::lock_guard hold(lock_);
  if (spawner_ >= 0 && hung_up(spawner_)) lose_spawner_locked();
  return spawn_locked();
}

void spawner_client::start_ahead(std::size_t wanted) {
  std::lock_guard hold(lock_);
  // Only an existing spawner is asked: the supply may take a while.
  if (spawner_ >= 0 && hung_up(spawner_)) lose_spawner_locked();
  while (spawner_ >= 0 && ready_.size() + static_cast<std::size_t>(owed_) < wanted) {
    char request = spawn_request;
    if (send(spawner_, &request, 1, MSG_NOSIGNAL) != 1) {
      lose_spawner_locked();
      return;
    }
    ++owed_;
  }
}

// The first worker started ahead that is still waiting for its question:
// from the notes read, then from those already on the channel.
std::optional<spawned_worker> spawner_client::take_ready_locked() {
  for (;;) {
    while (ready_.empty() && spawner_ >= 0 && owed_ > 0 && has_news(spawner_)) {
      if (!read_note_locked()) return std::nullopt;
    }
    if (ready_.empty()) return std::nullopt;
    spawned_worker one = ready_.front();
    ready_.pop_front();
    if (!has_news(one.channel)) return one;
    finish(one);  // died, or spoke unasked
  }
}

std::optional<spawned_worker> spawner_client::spawn_locked() {
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (std::optional<spawned_worker> ready = take_ready_locked()) return ready;
    if (spawner_ < 0 && supply_ != nullptr) spawner_ = supply_();
    if (spawner_ < 0) return std::nullopt;
    if (owed_ == 0) {
      char request = spawn_request;
      if (send(spawner_, &request, 1, MSG_NOSIGNAL) != 1) {
        lose_spawner_locked();
        continue;
      }
      ++owed_;
    }
    auto deadline = clock_type::now() + spawn_wait;
    while (spawner_ >= 0 && ready_.empty() && owed_ > 0) {
      if (!readable_by(spawner_, deadline)) return std::nullopt;
      if (!read_note_locked()) break;  // the spawner is gone
    }
    if (!ready_.empty()) {
      spawned_worker fresh = ready_.front();
      ready_.pop_front();
      return fresh;
    }
    if (spawner_ >= 0) return std::nullopt;  // every request failed
  }
  return std::nullopt;
}

// The lock is held for a few milliseconds at a time, so that a crash does
// not hold up the other callers.
std::optional<int> spawner_client::end_status(pid_t pid) {
  auto deadline = clock_type::now() + end_report_wait;
  for (;;) {
    {
      std::lock_guard hold(lock_);
      for (const auto& [ended, status] : ended_) {
        if (ended == pid) return status;
      }
      if (spawner_ < 0) return std::nullopt;
      auto slice = std::min(deadline, clock_type::now() + end_report_slice);
      if (readable_by(spawner_, slice)) {
        if (!read_note_locked()) return std::nullopt;
        continue;
      }
    }
    if (clock_type::now() >= deadline) return std::nullopt;
    std::this_thread::yield();
  }
}

void spawner_client::stop() {
  std::lock_guard hold(lock_);
  supply_ = nullptr;
  // The spawner ends when its channel closes, and its workers with it
  // (their parent-death signal); whoever started it reaps it.
  lose_spawner_locked();
  ended_.clear();
}

// Reads one note: a spawned worker joins the ready ones, an ended report is
// kept for end_status. Nothing when the spawner is gone (it is dropped).
std::optional<spawner_note> spawner_client::read_note_locked() {
  spawner_note note{};
  int fds[2] = {-1, -1};
  int flags = 0;
  ssize_t received = receive_with_descriptors(spawner_, &note, sizeof note, fds, flags);
  if (received != static_cast<ssize_t>(sizeof note)) {
    close_all(fds);
    lose_spawner_locked();
    return std::nullopt;
  }
  if (note.kind == spawner_note::ended) {
    ended_.emplace_back(note.pid, note.status);
    if (ended_.size() > end_reports_kept) ended_.pop_front();
    return note;
  }
  if (owed_ > 0) --owed_;
  if (note.kind == spawner_note::spawned && fds[0] >= 0 && fds[1] >= 0) {
    ready_.push_back({note.pid, fds[0], fds[1]});
  } else {
    close_all(fds);
    note.kind = spawner_note::spawn_failed;
  }
  return note;
}

// Workers started ahead end with their spawner.
void spawner_client::lose_spawner_locked() {
  for (const spawned_worker& one : ready_) finish(one);
  ready_.clear();
  owed_ = 0;
  if (spawner_ < 0) return;
  close(spawner_);
  spawner_ = -1;
}
