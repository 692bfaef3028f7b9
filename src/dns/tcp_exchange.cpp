// A DNS query over TCP with a deadline (see tcp_exchange.hpp).
#include "dns/tcp_exchange.hpp"

#include <arpa/nameser.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "dns/answer_parse.hpp"
#include "dns/name_servers.hpp"

namespace {

using clock_type = std::chrono::steady_clock;

class stream {
 public:
  stream(const name_server& server, clock_type::time_point deadline) : deadline_(deadline) {
    socket_ = socket(server.address.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (socket_ < 0) return;
    if (connect(socket_, reinterpret_cast<const sockaddr*>(&server.address), server.length) == 0) {
      return;
    }
    int error = 0;
    socklen_t size = sizeof error;
    if (errno != EINPROGRESS || !wait_for(POLLOUT) ||
        getsockopt(socket_, SOL_SOCKET, SO_ERROR, &error, &size) != 0 || error != 0) {
      close(socket_);
      socket_ = -1;
    }
  }
  ~stream() {
    if (socket_ >= 0) close(socket_);
  }
  stream(const stream&) = delete;
  stream& operator=(const stream&) = delete;

  bool open() const { return socket_ >= 0; }

  bool write_all(const unsigned char* data, std::size_t size) {
    while (size > 0) {
      ssize_t done = send(socket_, data, size, MSG_NOSIGNAL);
      if (done < 0 && (errno == EAGAIN || errno == EINTR)) {
        if (!wait_for(POLLOUT)) return false;
        continue;
      }
      if (done <= 0) return false;
      data += done;
      size -= static_cast<std::size_t>(done);
    }
    return true;
  }

  bool read_all(unsigned char* data, std::size_t size) {
    while (size > 0) {
      ssize_t done = recv(socket_, data, size, 0);
      if (done < 0 && (errno == EAGAIN || errno == EINTR)) {
        if (!wait_for(POLLIN)) return false;
        continue;
      }
      if (done <= 0) return false;  // closed before the whole answer came
      data += done;
      size -= static_cast<std::size_t>(done);
    }
    return true;
  }

 private:
  bool wait_for(short event) {
    for (;;) {
      auto left = deadline_ - clock_type::now();
      if (left <= clock_type::duration::zero()) return false;
      pollfd watch{socket_, event, 0};
      int ready = poll(
          &watch, 1, static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(left).count()));
      if (ready < 0 && errno == EINTR) continue;
      return ready > 0;
    }
  }

  int socket_ = -1;
  clock_type::time_point deadline_;
};

// One server's answer; empty when it gave none.
std::vector<unsigned char> ask_server(const name_server& server,
                                      std::span<const unsigned char> query,
                                      clock_type::time_point deadline) {
  stream connection(server, deadline);
  std::vector<unsigned char> message(NS_INT16SZ);
  ns_put16(static_cast<unsigned>(query.size()), message.data());
  message.insert(message.end(), query.data(), query.data() + query.size());
  unsigned char length[NS_INT16SZ];
  if (!connection.open() || !connection.write_all(message.data(), message.size()) ||
      !connection.read_all(length, sizeof length)) {
    return {};
  }
  std::vector<unsigned char> answer(ns_get16(length));
  if (!connection.read_all(answer.data(), answer.size()) || !answers_query(answer, query)) {
    return {};
  }
  return answer;
}

}  // namespace

std::vector<unsigned char> tcp_exchange(res_state state, std::span<const unsigned char> query,
                                        std::chrono::steady_clock::time_point deadline) {
  for (int index = 0; index < name_server_count(state); ++index) {
    name_server server;
    if (!name_server_at(state, index, server)) continue;
    std::vector<unsigned char> answer = ask_server(server, query, deadline);
    if (!answer.empty()) return answer;
    if (clock_type::now() >= deadline) break;
  }
  return {};
}
