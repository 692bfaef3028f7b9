// One DNS question sent now over UDP and answered later, without a thread:
// the piece that lets questions travel together (the blocklist question
// sent at MAIL FROM, the SPF evaluation's questions asked ahead).
//
// The constructor builds the query with res_nmkquery from the resolver
// state (its options; glibc picks a random id) and sends it from a fresh
// non-blocking socket connected to the state's first name server, IPv4 or
// IPv6, so that the kernel drops datagrams from any other address; await()
// then takes only a response with the query's id and question
// (answers_query), leaving stray and forged packets aside. Nothing is sent
// when the name cannot be put in a query (encoded() false) or the state
// names no server (sent() false). Retries, other servers and TCP are the
// caller's (res_nsend, tcp_exchange).
//
// Destroying it closes the socket: an answer never read is dropped. One
// query is used by one thread at a time.
#pragma once

#include <resolv.h>

#include <chrono>
#include <span>
#include <string>
#include <vector>

#include "dns/dns_reply.hpp"

class udp_query {
 public:
  using clock_type = std::chrono::steady_clock;

  udp_query(res_state state, const std::string& name, dns_type type);
  ~udp_query();
  udp_query(const udp_query&) = delete;
  udp_query& operator=(const udp_query&) = delete;

  bool encoded() const { return query_length_ > 0; }
  bool sent() const { return socket_ >= 0; }
  std::span<const unsigned char> query() const;
  // When it was (first) sent, by the steady clock and by the wall clock.
  clock_type::time_point sent_at() const { return sent_; }
  std::chrono::system_clock::time_point sent_wall() const { return sent_wall_; }

  // Sends the same query again (same id); an answer to either copy counts.
  void send_again();

  // Waits until `until` (not at all when it has passed) for the answer:
  // `answered` with it in answer(); `timed_out` when none came in time;
  // `failed` when the socket failed (an ICMP error: nothing listens at the
  // server's port) or nothing was sent.
  enum class outcome { answered, timed_out, failed };
  [[nodiscard]] outcome await(clock_type::time_point until);
  std::span<const unsigned char> answer() const;

  // When the answer's packet arrived, by the kernel's time stamp (wall
  // clock), so that a figure of the lookup's time does not include the time
  // the answer waited to be read. Needs ioctl SIOCGSTAMP.
  std::chrono::system_clock::time_point arrival_time() const;

 private:
  int socket_ = -1;
  unsigned char query_[512];
  int query_length_ = 0;
  std::vector<unsigned char> answer_;
  clock_type::time_point sent_{};
  std::chrono::system_clock::time_point sent_wall_{};
};
