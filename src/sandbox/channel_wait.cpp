// Looking at a channel (see channel_wait.hpp).
#include "sandbox/channel_wait.hpp"

#include <poll.h>

#include <cerrno>

bool readable_by(int fd, std::chrono::steady_clock::time_point deadline) {
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    deadline - std::chrono::steady_clock::now())
                    .count();
    pollfd watch{fd, POLLIN, 0};
    int ready = poll(&watch, 1, left > 0 ? static_cast<int>(left) : 0);
    if (ready > 0) return true;
    if (ready == 0) return false;
    if (errno != EINTR) return true;
  }
}

bool has_news(int fd) {
  pollfd watch{fd, POLLIN, 0};
  return poll(&watch, 1, 0) != 0;
}

bool hung_up(int fd) {
  pollfd watch{fd, POLLIN, 0};
  return poll(&watch, 1, 0) > 0 && (watch.revents & (POLLHUP | POLLERR)) != 0;
}
