// The archive lister's channel (see archive_wire.hpp).
#include "archive/archive_wire.hpp"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "common/text.hpp"

namespace {

struct question_packet {
  uint64_t size;
  char extensions[256];
};

struct answer_packet {
  uint8_t status;
  uint32_t members;
  char harmful[max_member_name + 1];
  char problem[128];
};

bool send_packet(int channel, const void* packet, std::size_t size, int attached) {
  iovec data{const_cast<void*>(packet), size};
  msghdr message{};
  message.msg_iov = &data;
  message.msg_iovlen = 1;
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
  if (attached >= 0) {
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    cmsghdr* header = CMSG_FIRSTHDR(&message);
    header->cmsg_level = SOL_SOCKET;
    header->cmsg_type = SCM_RIGHTS;
    header->cmsg_len = CMSG_LEN(sizeof(int));
    std::memcpy(CMSG_DATA(header), &attached, sizeof attached);
  }
  ssize_t sent;
  do {
    sent = sendmsg(channel, &message, MSG_NOSIGNAL);
  } while (sent < 0 && errno == EINTR);
  return sent == static_cast<ssize_t>(size);
}

// Receives one packet of exactly `size` bytes; `attached`, when asked for,
// gets the descriptor that came with it (-1 when none did).
bool receive_packet(int channel, void* packet, std::size_t size, int* attached) {
  iovec data{packet, size};
  msghdr message{};
  message.msg_iov = &data;
  message.msg_iovlen = 1;
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
  message.msg_control = control;
  message.msg_controllen = sizeof control;
  ssize_t received;
  do {
    received = recvmsg(channel, &message, MSG_CMSG_CLOEXEC);
  } while (received < 0 && errno == EINTR);
  int fd = -1;
  cmsghdr* header = CMSG_FIRSTHDR(&message);
  if (header != nullptr && header->cmsg_level == SOL_SOCKET && header->cmsg_type == SCM_RIGHTS &&
      header->cmsg_len == CMSG_LEN(sizeof(int))) {
    std::memcpy(&fd, CMSG_DATA(header), sizeof fd);
  }
  if (attached != nullptr) {
    *attached = fd;
  } else if (fd >= 0) {
    close(fd);
  }
  return received == static_cast<ssize_t>(size) && (message.msg_flags & MSG_TRUNC) == 0;
}

}  // namespace

bool send_archive_question(int channel, int content, std::size_t size, const char* extensions) {
  question_packet packet{};
  packet.size = size;
  (void)copy_bounded(packet.extensions, extensions);
  return send_packet(channel, &packet, sizeof packet, content);
}

bool receive_archive_question(int channel, int& content, std::size_t& size,
                              std::string& extensions) {
  question_packet packet{};
  content = -1;
  bool whole = receive_packet(channel, &packet, sizeof packet, &content);
  if (!whole || content < 0) return false;
  packet.extensions[sizeof packet.extensions - 1] = '\0';
  size = static_cast<std::size_t>(packet.size);
  extensions = packet.extensions;
  return true;
}

bool send_archive_answer(int channel, const archive_listing& listing) {
  answer_packet packet{};
  packet.status = listing.status;
  packet.members = listing.members;
  (void)copy_bounded(packet.harmful, listing.harmful.c_str());
  (void)copy_bounded(packet.problem, listing.problem.c_str());
  return send_packet(channel, &packet, sizeof packet, -1);
}

bool receive_archive_answer(int channel, archive_listing& listing) {
  answer_packet packet{};
  if (!receive_packet(channel, &packet, sizeof packet, nullptr)) return false;
  if (packet.status > archive_listing::failed) return false;
  packet.harmful[sizeof packet.harmful - 1] = '\0';
  packet.problem[sizeof packet.problem - 1] = '\0';
  listing.status = static_cast<archive_listing::status_t>(packet.status);
  listing.members = packet.members;
  listing.harmful = packet.harmful;
  listing.problem = packet.problem;
  return true;
}
