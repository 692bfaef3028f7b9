// The monitor's channel (see monitor_channel.hpp).
#include "daemon/monitor_channel.hpp"

#include <sys/socket.h>
#include <sys/uio.h>

#include <cerrno>

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
