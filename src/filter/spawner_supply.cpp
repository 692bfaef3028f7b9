// The filter process's supply of spawners (see spawner_supply.hpp).
#include "filter/spawner_supply.hpp"

#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <mutex>

#include "sandbox/monitor_channel.hpp"

namespace {

using clock_type = std::chrono::steady_clock;
constexpr auto reply_wait = std::chrono::seconds(1);

class monitor_supply {
 public:
  void use(int channel) {
    std::lock_guard hold(lock_);
    channel_ = channel;
    spf_owed_ = 0;
    archive_owed_ = 0;
  }

  int spawner(char kind) {
    std::lock_guard hold(lock_);
    if (channel_ < 0 || !send_request(channel_, kind)) return -1;
    ++owed(kind);
    int newest = -1;
    auto deadline = clock_type::now() + reply_wait;
    while (owed(kind) > 0 && wait_readable(deadline)) {
      char replied = 0;
      int attached = -1;
      if (!receive_spawner_reply(channel_, replied, attached)) {
        if (closed()) break;
        continue;  // not a reply: already dropped
      }
      if (owed(replied) > 0) --owed(replied);
      if (replied != kind) {
        if (attached >= 0) close(attached);
        continue;
      }
      if (newest >= 0) close(newest);
      newest = attached;
    }
    // A reply still owed carries a newer spawner than the ones read.
    if (owed(kind) > 0 && newest >= 0) {
      close(newest);
      newest = -1;
    }
    return newest;
  }

 private:
  int& owed(char kind) { return kind == spf_spawner_request ? spf_owed_ : archive_owed_; }

  bool wait_readable(clock_type::time_point deadline) const {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock_type::now());
    pollfd watch{channel_, POLLIN, 0};
    return poll(&watch, 1, left.count() > 0 ? static_cast<int>(left.count()) : 0) > 0;
  }

  bool closed() const {
    pollfd watch{channel_, POLLIN, 0};
    return poll(&watch, 1, 0) > 0 && (watch.revents & (POLLHUP | POLLERR)) != 0;
  }

  std::mutex lock_;
  int channel_ = -1;
  int spf_owed_ = 0;      // SPF spawner replies not read yet
  int archive_owed_ = 0;  // archive spawner replies not read yet
};

// Never destroyed: worker threads may still ask at exit.
monitor_supply& the_supply() {
  static auto* const supply = new monitor_supply;
  return *supply;
}

}  // namespace

void use_monitor_for_spawners(int channel) { the_supply().use(channel); }

int spf_spawner_from_monitor() { return the_supply().spawner(spf_spawner_request); }

int archive_spawner_from_monitor() { return the_supply().spawner(archive_spawner_request); }
