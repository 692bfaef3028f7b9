// The scripted test filter (see scripted_filter.hpp).
#include "scripted_filter.hpp"

#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace w = milter_wire;

scripted_filter::scripted_filter(std::uint32_t protocol_flags, script replies,
                                 bool close_after_body)
    : protocol_flags_(protocol_flags),
      replies_(std::move(replies)),
      close_after_body_(close_after_body) {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base != nullptr ? base : "/tmp") + "/milter-driver-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  directory_ = pattern;
  socket_path_ = directory_ + "/filter.sock";
  listener_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, socket_path_.c_str(), sizeof address.sun_path - 1);
  if (listener_ < 0 ||
      bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(listener_, 4) != 0) {
    throw std::runtime_error("cannot listen on " + socket_path_);
  }
  server_ = std::thread([this] { serve(); });
}

scripted_filter::~scripted_filter() {
  if (server_.joinable()) {
    shutdown(listener_, SHUT_RDWR);
    server_.join();
  }
  close(listener_);
  unlink(socket_path_.c_str());
  rmdir(directory_.c_str());
}

std::vector<std::string> scripted_filter::received() {
  if (server_.joinable()) server_.join();
  return received_;
}

void scripted_filter::serve() {
  int fd = accept(listener_, nullptr, nullptr);
  if (fd < 0) return;
  w::packet_reader reader(fd);
  w::packet packet;
  while (reader.next(packet, 5000) == w::read_status::ok) {
    std::string seen(1, packet.command);
    seen += w::printable(packet.data);
    received_.push_back(std::move(seen));
    std::string out;
    if (packet.command == w::cmd_optneg) {
      std::string data;
      w::append_u32(data, 6);
      w::append_u32(data, 0x3d);
      w::append_u32(data, protocol_flags_);
      w::append_packet(out, w::reply_optneg, data);
    } else if (packet.command == w::cmd_quit) {
      break;
    } else if (packet.command == w::cmd_macro || packet.command == w::cmd_abort) {
      continue;
    } else if (close_after_body_ && packet.command == w::cmd_body) {
      break;
    } else {
      auto entry = replies_.find(packet.command);
      if (entry == replies_.end()) {
        w::append_packet(out, w::reply_continue, "");
      } else {
        for (const auto& [letter, data] : entry->second) w::append_packet(out, letter, data);
      }
    }
    if (!out.empty() && !w::write_all(fd, out)) break;
  }
  close(fd);
}
