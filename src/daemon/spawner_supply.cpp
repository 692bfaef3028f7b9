// The filter process's supply of SPF spawners (see spawner_supply.hpp).
#include "daemon/spawner_supply.hpp"

#include <poll.h>
#include <unistd.h>

#include <chrono>

#include "daemon/monitor_channel.hpp"

namespace {

using clock_type = std::chrono::steady_clock;
constexpr auto reply_wait = std::chrono::seconds(1);

// Both used under the evaluator pool's lock only.
int monitor_channel = -1;
int replies_owed = 0;

bool wait_readable(int fd, clock_type::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock_type::now());
  pollfd watch{fd, POLLIN, 0};
  return poll(&watch, 1, left.count() > 0 ? static_cast<int>(left.count()) : 0) > 0;
}

}  // namespace

void use_monitor_for_spawners(int channel) {
  monitor_channel = channel;
  replies_owed = 0;
}

int spawner_from_monitor() {
  if (monitor_channel < 0 || !send_request(monitor_channel, spawner_request)) return -1;
  ++replies_owed;
  int newest = -1;
  auto deadline = clock_type::now() + reply_wait;
  while (replies_owed > 0 && wait_readable(monitor_channel, deadline)) {
    int attached = -1;
    if (!receive_spawner_reply(monitor_channel, attached)) {
      pollfd watch{monitor_channel, POLLIN, 0};
      bool closed = poll(&watch, 1, 0) > 0 && (watch.revents & (POLLHUP | POLLERR)) != 0;
      if (closed) break;
      continue;  // not a reply: already dropped
    }
    --replies_owed;
    if (newest >= 0) close(newest);
    newest = attached;
  }
  // A reply still owed carries a newer spawner than the ones read.
  if (replies_owed > 0 && newest >= 0) {
    close(newest);
    newest = -1;
  }
  return newest;
}
