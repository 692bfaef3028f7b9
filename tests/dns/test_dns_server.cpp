#include "dns/test_dns_server.hpp"

#include <arpa/inet.h>
#include <arpa/nameser.h>
#include <netinet/in.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace {

std::string lower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

bool read_exactly(int socket, unsigned char* data, std::size_t size) {
  while (size > 0) {
    ssize_t done = recv(socket, data, size, 0);
    if (done <= 0) return false;
    data += done;
    size -= static_cast<std::size_t>(done);
  }
  return true;
}

}  // namespace

test_dns_server::test_dns_server(dns_server_faults how) : how_(how) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  tcp_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int on = 1;
  setsockopt(tcp_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  EXPECT_EQ(bind(tcp_, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  socklen_t size = sizeof address;
  getsockname(tcp_, reinterpret_cast<sockaddr*>(&address), &size);
  port_ = ntohs(address.sin_port);
  EXPECT_EQ(listen(tcp_, 8), 0);
  udp_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  EXPECT_EQ(bind(udp_, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  EXPECT_EQ(pipe2(stop_pipe_, O_CLOEXEC), 0);
  thread_ = std::thread([this] { serve(); });
}

test_dns_server::~test_dns_server() {
  (void)write(stop_pipe_[1], "x", 1);
  thread_.join();
  for (int fd : {udp_, tcp_, stop_pipe_[0], stop_pipe_[1]}) close(fd);
}

void test_dns_server::add(const std::string& name, uint16_t type, const dns_messages::bytes& data) {
  std::lock_guard<std::mutex> hold(lock_);
  records_[{lower(name), type}].push_back(data);
}

int test_dns_server::queries(const std::string& name, uint16_t type) {
  std::lock_guard<std::mutex> hold(lock_);
  auto found = counts_.find({lower(name), type});
  return found == counts_.end() ? 0 : found->second;
}

int test_dns_server::tcp_queries() {
  std::lock_guard<std::mutex> hold(lock_);
  return tcp_count_;
}

int test_dns_server::all_queries() {
  std::lock_guard<std::mutex> hold(lock_);
  return tcp_count_ + udp_count_;
}

void test_dns_server::serve() {
  for (;;) {
    pollfd watch[3] = {{stop_pipe_[0], POLLIN, 0}, {udp_, POLLIN, 0}, {tcp_, POLLIN, 0}};
    if (poll(watch, 3, -1) < 0) continue;
    if (watch[0].revents != 0) break;
    if (watch[1].revents != 0) on_datagram();
    if (watch[2].revents != 0) on_connection();
  }
  for (int connection : open_connections_) close(connection);
}

bool test_dns_server::read_query(const unsigned char* data, std::size_t size, query& out,
                                 bool tcp) {
  ns_msg handle;
  ns_rr question;
  if (ns_initparse(data, static_cast<int>(size), &handle) != 0 ||
      ns_parserr(&handle, ns_s_qd, 0, &question) != 0) {
    return false;
  }
  out = {ns_msg_id(handle), lower(ns_rr_name(question)),
         static_cast<uint16_t>(ns_rr_type(question))};
  std::lock_guard<std::mutex> hold(lock_);
  ++counts_[{out.name, out.type}];
  ++(tcp ? tcp_count_ : udp_count_);
  names_asked_.insert(out.name);
  return true;
}

dns_messages::bytes test_dns_server::answer_of(const query& asked, bool tcp) {
  using namespace dns_messages;
  std::lock_guard<std::mutex> hold(lock_);
  if (!tcp && how_.servfail_first > 0) {
    --how_.servfail_first;
    return response(asked.id, ns_r_servfail, asked.name, asked.type, {});
  }
  if (!tcp && how_.truncate_udp)
    return response(asked.id, truncated_bit, asked.name, asked.type, {});
  auto found = records_.find({asked.name, asked.type});
  bool exists = found != records_.end();
  for (const auto& [key, data] : records_) exists = exists || key.first == asked.name;
  std::vector<bytes> answers;
  if (found != records_.end()) {
    for (const bytes& data : found->second) {
      answers.push_back(record(pointer(12), asked.type, data));
    }
  }
  return response(asked.id, exists ? 0 : ns_r_nxdomain, asked.name, asked.type, answers);
}

void test_dns_server::send_datagram(const query& asked, const sockaddr_storage& to,
                                    socklen_t length) {
  using namespace dns_messages;
  auto send_one = [&](const bytes& message) {
    (void)sendto(udp_, message.data(), message.size(), 0, reinterpret_cast<const sockaddr*>(&to),
                 length);
  };
  if (how_.stray_first) {
    const std::vector<bytes> forged = {record(pointer(12), asked.type, a("192.0.2.66"))};
    send_one(response(static_cast<uint16_t>(asked.id ^ 0x5a5a), 0, asked.name, asked.type, forged));
    send_one(response(asked.id, 0, "forged.example", asked.type, forged));
  }
  send_one(answer_of(asked, false));
}

void test_dns_server::on_datagram() {
  unsigned char packet[512];
  sockaddr_storage from{};
  socklen_t length = sizeof from;
  ssize_t size =
      recvfrom(udp_, packet, sizeof packet, 0, reinterpret_cast<sockaddr*>(&from), &length);
  query asked;
  if (size <= 0 || !read_query(packet, static_cast<std::size_t>(size), asked, false)) return;
  if (how_.silent) return;
  std::vector<std::pair<query, std::pair<sockaddr_storage, socklen_t>>> ready;
  {
    std::lock_guard<std::mutex> hold(lock_);
    held_.push_back({asked, {from, length}});
    if (names_asked_.size() < how_.hold_until_names) return;
    ready.swap(held_);
  }
  for (const auto& [waiting, peer] : ready) {
    send_datagram(waiting, peer.first, peer.second);
  }
}

void test_dns_server::on_connection() {
  int connection = accept4(tcp_, nullptr, nullptr, SOCK_CLOEXEC);
  if (connection < 0) return;
  unsigned char length[2];
  query asked;
  if (read_exactly(connection, length, 2)) {
    std::vector<unsigned char> packet(ns_get16(length));
    if (read_exactly(connection, packet.data(), packet.size()) &&
        read_query(packet.data(), packet.size(), asked, true) && !how_.silent) {
      if (how_.tcp_silent) {
        open_connections_.push_back(connection);
        return;
      }
      dns_messages::bytes message = answer_of(asked, true);
      unsigned char framed[2];
      ns_put16(static_cast<unsigned>(message.size()), framed);
      (void)send(connection, framed, 2, MSG_NOSIGNAL);
      (void)send(connection, message.data(), message.size(), MSG_NOSIGNAL);
    }
  }
  close(connection);
}

test_resolver::test_resolver(uint16_t port, int retrans, int retry) {
  state_.options = RES_INIT | RES_DEFAULT;
  state_.retrans = retrans;
  state_.retry = retry;
  state_.ndots = 1;
  state_.nscount = 1;
  state_.nsaddr_list[0].sin_family = AF_INET;
  state_.nsaddr_list[0].sin_port = htons(port);
  state_.nsaddr_list[0].sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  state_._vcsock = -1;
  for (int& socket : state_._u._ext.nssocks) socket = -1;
}

test_resolver::~test_resolver() { res_nclose(&state_); }
