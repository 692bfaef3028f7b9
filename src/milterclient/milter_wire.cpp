// Packet framing and the buffered reader of the mail-filter protocol (see
// milter_wire.hpp).
#include "milterclient/milter_wire.hpp"

#include <cerrno>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace milter_wire {

namespace {

// A reply larger than this is a broken filter, not a big header.
constexpr std::uint32_t max_reply_length = 1U << 20;
constexpr std::size_t read_size = 16384;

}  // namespace

void append_u32(std::string& out, std::uint32_t value) {
  out.push_back(static_cast<char>((value >> 24) & 0xff));
  out.push_back(static_cast<char>((value >> 16) & 0xff));
  out.push_back(static_cast<char>((value >> 8) & 0xff));
  out.push_back(static_cast<char>(value & 0xff));
}

std::uint32_t read_u32(std::string_view data, std::size_t offset) {
  if (offset + 4 > data.size()) return 0;
  std::uint32_t value = 0;
  for (std::size_t i = 0; i < 4; ++i) {
    value = (value << 8) | static_cast<unsigned char>(data[offset + i]);
  }
  return value;
}

void append_packet(std::string& out, char command, std::string_view data) {
  append_u32(out, static_cast<std::uint32_t>(data.size() + 1));
  out.push_back(command);
  out.append(data);
}

std::string printable(std::string_view data) {
  std::string text;
  for (char c : data) {
    if (c == '\0') {
      text.push_back('|');
    } else if (static_cast<unsigned char>(c) < 0x20) {
      text.push_back('?');
    } else {
      text.push_back(c);
    }
  }
  if (!text.empty() && text.back() == '|') text.pop_back();
  return text;
}

bool packet_reader::take_buffered(packet& out) {
  std::string_view pending(buffer_.data() + start_, buffer_.size() - start_);
  if (pending.size() < 5) return false;
  std::uint32_t length = read_u32(pending, 0);
  if (pending.size() < 4 + static_cast<std::size_t>(length)) return false;
  out.command = pending[4];
  out.data.assign(pending.substr(5, length - 1));
  start_ += 4 + length;
  if (start_ == buffer_.size()) {
    buffer_.clear();
    start_ = 0;
  }
  return true;
}

read_status packet_reader::next(packet& out, int timeout_ms) {
  for (;;) {
    std::string_view pending(buffer_.data() + start_, buffer_.size() - start_);
    if (pending.size() >= 4) {
      std::uint32_t length = read_u32(pending, 0);
      if (length == 0 || length > max_reply_length) return read_status::oversize;
    }
    if (take_buffered(out)) return read_status::ok;
    if (start_ > 0) {
      buffer_.erase(0, start_);
      start_ = 0;
    }
    pollfd waiting{fd_, POLLIN, 0};
    int ready = poll(&waiting, 1, timeout_ms);
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0) return read_status::error;
    if (ready == 0) return read_status::timeout;
    char chunk[read_size];
    ssize_t got = read(fd_, chunk, sizeof chunk);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return read_status::error;
    if (got == 0) return read_status::closed;
    buffer_.append(chunk, static_cast<std::size_t>(got));
  }
}

bool write_all(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t sent = send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(sent));
  }
  return true;
}

}  // namespace milter_wire
