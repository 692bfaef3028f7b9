// The archive lister's channel (see archive_wire.hpp).
#include "archive/archive_wire.hpp"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <span>

#include "common/descriptor_passing.hpp"
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
  std::span<const int> fds(&attached, attached >= 0 ? 1 : 0);
  return send_with_descriptors(channel, packet, size, fds);
}

// Receives one packet of exactly `size` bytes; `attached`, when asked for,
// gets the descriptor that came with it (-1 when none did).
bool receive_packet(int channel, void* packet, std::size_t size, int* attached) {
  int fd = -1;
  int flags = 0;
  ssize_t received = receive_with_descriptors(channel, packet, size, std::span<int>(&fd, 1), flags);
  if (attached != nullptr) {
    *attached = fd;
  } else if (fd >= 0) {
    close(fd);
  }
  return received == static_cast<ssize_t>(size) && (flags & MSG_TRUNC) == 0;
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
