// Packets with descriptors attached (see descriptor_passing.hpp).
#include "common/descriptor_passing.hpp"

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

constexpr std::size_t control_size = CMSG_SPACE(max_attached_descriptors * sizeof(int));

}  // namespace

bool send_with_descriptors(int channel, const void* data, std::size_t size,
                           std::span<const int> attached, int flags) {
  iovec part{const_cast<void*>(data), size};
  msghdr message{};
  message.msg_iov = &part;
  message.msg_iovlen = 1;
  alignas(cmsghdr) char control[control_size] = {};
  if (!attached.empty() && attached.size() <= max_attached_descriptors) {
    std::size_t bytes = attached.size() * sizeof(int);
    message.msg_control = control;
    message.msg_controllen = CMSG_SPACE(bytes);
    cmsghdr* header = CMSG_FIRSTHDR(&message);
    header->cmsg_level = SOL_SOCKET;
    header->cmsg_type = SCM_RIGHTS;
    header->cmsg_len = CMSG_LEN(bytes);
    std::memcpy(CMSG_DATA(header), attached.data(), bytes);
  }
  ssize_t sent;
  do {
    sent = sendmsg(channel, &message, MSG_NOSIGNAL | flags);
  } while (sent < 0 && errno == EINTR);
  return sent == static_cast<ssize_t>(size);
}

ssize_t receive_with_descriptors(int channel, void* data, std::size_t size, std::span<int> attached,
                                 int& message_flags, int flags) {
  std::fill(attached.begin(), attached.end(), -1);
  iovec part{data, size};
  msghdr message{};
  message.msg_iov = &part;
  message.msg_iovlen = 1;
  alignas(cmsghdr) char control[control_size] = {};
  message.msg_control = control;
  message.msg_controllen = sizeof control;
  ssize_t received;
  do {
    received = recvmsg(channel, &message, MSG_CMSG_CLOEXEC | flags);
  } while (received < 0 && errno == EINTR);
  message_flags = received < 0 ? 0 : message.msg_flags;
  if (received < 0) return received;
  for (cmsghdr* header = CMSG_FIRSTHDR(&message); header != nullptr;
       header = CMSG_NXTHDR(&message, header)) {
    if (header->cmsg_level != SOL_SOCKET || header->cmsg_type != SCM_RIGHTS) continue;
    std::size_t count = (header->cmsg_len - CMSG_LEN(0)) / sizeof(int);
    int came[max_attached_descriptors] = {-1, -1};
    std::memcpy(came, CMSG_DATA(header), std::min(count, max_attached_descriptors) * sizeof(int));
    if (count == attached.size()) {
      std::copy(came, came + count, attached.begin());
    } else {
      for (std::size_t i = 0; i < std::min(count, max_attached_descriptors); ++i) close(came[i]);
    }
  }
  return received;
}
