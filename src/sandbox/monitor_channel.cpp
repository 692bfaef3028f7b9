// The monitor's channel (see monitor_channel.hpp).
#include "sandbox/monitor_channel.hpp"

#include <sys/socket.h>
#include <sys/uio.h>

#include <cerrno>
#include <cstring>
#include <span>
#include <unistd.h>

#include "common/descriptor_passing.hpp"

bool open_monitor_channel(int ends[2]) {
  return socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends) == 0;
}

bool send_request(int fd, char kind, std::string_view payload) {
  if (payload.size() + 1 > max_request_size) {
    errno = EMSGSIZE;
    return false;
  }
  iovec parts[2] = {{&kind, 1}, {const_cast<char*>(payload.data()), payload.size()}};
  msghdr message{};
  message.msg_iov = parts;
  message.msg_iovlen = payload.empty() ? 1 : 2;
  ssize_t sent;
  do {
    sent = sendmsg(fd, &message, MSG_NOSIGNAL);
  } while (sent < 0 && errno == EINTR);
  return sent == static_cast<ssize_t>(payload.size() + 1);
}

received_packet receive_request(int fd) {
  received_packet packet;
  packet.data.resize(max_request_size);
  ssize_t got;
  do {
    got = recv(fd, packet.data.data(), packet.data.size(), MSG_DONTWAIT | MSG_TRUNC);
  } while (got < 0 && errno == EINTR);
  if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
    packet.none = true;
  } else if (got <= 0) {
    packet.closed = true;
  } else {
    packet.truncated = static_cast<std::size_t>(got) > max_request_size;
    packet.data.resize(packet.truncated ? max_request_size : static_cast<std::size_t>(got));
    return packet;
  }
  packet.data.clear();
  return packet;
}

bool is_spawner_request(char kind) {
  return kind == spf_spawner_request || kind == archive_spawner_request;
}

bool send_spawner_reply(int fd, char kind, int attached) {
  std::span<const int> fds(&attached, attached >= 0 ? 1 : 0);
  return send_with_descriptors(fd, &kind, 1, fds, MSG_DONTWAIT);
}

bool receive_spawner_reply(int fd, char& kind, int& attached) {
  kind = 0;
  int flags = 0;
  ssize_t received =
      receive_with_descriptors(fd, &kind, 1, std::span<int>(&attached, 1), flags, MSG_DONTWAIT);
  if (received < 0) return false;
  bool reply = received == 1 && is_spawner_request(kind) && (flags & MSG_CTRUNC) == 0;
  if (!reply && attached >= 0) {
    close(attached);
    attached = -1;
  }
  return reply;
}
