// A DNS question over UDP, sent ahead (see udp_query.hpp).
#include "dns/udp_query.hpp"

#include <arpa/nameser.h>
#include <linux/sockios.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>

#include "dns/answer_parse.hpp"
#include "dns/name_servers.hpp"

namespace {

// Without EDNS a UDP answer has at most 512 bytes; a server that sends more
// anyway is read up to this size, and a longer datagram reads as a
// malformed (hence failed) answer.
constexpr std::size_t largest_answer = 4096;

// Milliseconds to `until`, rounded up so that a wait does not end early.
int milliseconds_to(udp_query::clock_type::time_point until) {
  auto left = until - udp_query::clock_type::now();
  if (left <= udp_query::clock_type::duration::zero()) return 0;
  return static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(left).count());
}

}  // namespace

udp_query::udp_query(res_state state, const std::string& name, dns_type type) {
  query_length_ = res_nmkquery(state, ns_o_query, name.c_str(), ns_c_in, static_cast<int>(type),
                               nullptr, 0, nullptr, query_, sizeof query_);
  if (query_length_ <= 0) {
    query_length_ = 0;
    return;
  }
  name_server server;
  if (!name_server_at(state, 0, server)) return;
  socket_ = socket(server.address.ss_family, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (socket_ < 0) return;
  sent_ = clock_type::now();
  sent_wall_ = std::chrono::system_clock::now();
  if (connect(socket_, reinterpret_cast<const sockaddr*>(&server.address), server.length) != 0 ||
      send(socket_, query_, static_cast<std::size_t>(query_length_), MSG_NOSIGNAL) !=
          query_length_) {
    close(socket_);
    socket_ = -1;
  }
}

udp_query::~udp_query() {
  if (socket_ >= 0) close(socket_);
}

std::span<const unsigned char> udp_query::query() const {
  return {query_, static_cast<std::size_t>(query_length_)};
}

std::span<const unsigned char> udp_query::answer() const { return answer_; }

void udp_query::send_again() {
  if (socket_ >= 0)
    (void)send(socket_, query_, static_cast<std::size_t>(query_length_), MSG_NOSIGNAL);
}

udp_query::outcome udp_query::await(clock_type::time_point until) {
  if (socket_ < 0) return outcome::failed;
  answer_.resize(largest_answer);
  for (;;) {
    pollfd watch{socket_, POLLIN, 0};
    int ready = poll(&watch, 1, milliseconds_to(until));
    if (ready < 0 && errno == EINTR) continue;
    if (ready == 0) break;
    ssize_t length = ready < 0 ? -1 : recv(socket_, answer_.data(), answer_.size(), 0);
    if (length < 0 && (errno == EAGAIN || errno == EINTR)) continue;
    if (length < 0) {
      answer_.clear();
      return outcome::failed;
    }
    std::span<const unsigned char> received(answer_.data(), static_cast<std::size_t>(length));
    if (!answers_query(received, query())) continue;
    answer_.resize(static_cast<std::size_t>(length));
    return outcome::answered;
  }
  answer_.clear();
  return outcome::timed_out;
}

std::chrono::system_clock::time_point udp_query::arrival_time() const {
  timeval stamp{};
  if (socket_ < 0 || ioctl(socket_, SIOCGSTAMP, &stamp) != 0)
    return std::chrono::system_clock::now();
  return std::chrono::system_clock::time_point(std::chrono::seconds(stamp.tv_sec) +
                                               std::chrono::microseconds(stamp.tv_usec));
}
