// The DNS source of one SPF evaluation in the evaluation process: glibc's
// resolver with the configuration it is given, questions asked ahead over
// UDP, an overall deadline.
//
// The resolver state is the caller's, already initialised (res_init or
// res_ninit, before the process's system-call list forbids reading
// /etc/resolv.conf; tests point one at a local server), and outlives the
// source; the source changes its retrans, retry and options only for the
// length of a call and puts them back.
//
// ask_ahead sends the question at once (udp_query, to the first name
// server) and returns; any number may be outstanding. lookup gives the
// answer, sending the question then if it was not asked ahead, and waits:
// - for the UDP answer, until the resolver's per-try timeout (retrans)
//   from when it was sent, or the deadline if sooner;
// - an answer that settles it (parse_answer: found, nodata, nxdomain) is
//   the reply;
// - a truncated answer is asked again over TCP (tcp_exchange);
// - no answer, a failure answer (SERVFAIL, REFUSED, malformed), is asked
//   again with res_nsend (retries, the other servers), its retrans and
//   retry lowered so that its longest wait ends before the deadline; when
//   not even one round fits, the UDP query is sent once more and awaited
//   until the deadline; a truncated answer then goes to TCP;
// - once the deadline has passed, a question not yet answered is `failed`
//   at once, without asking (an answer already received is still read).
// Each name and type (name without ASCII case and final dot) is asked at
// most once per source: every reply, a failure too, is kept and given
// again. A name that cannot be put in a query (empty, a label over 63
// bytes, an empty label, over 255 bytes) is `nxdomain` without asking:
// no such name can exist. The resolver's "use-vc" option sends the
// questions that are asked again over TCP.
//
// One source serves one evaluation on one thread; destroying it closes the
// sockets of unanswered questions. System calls: socket (AF_INET,
// AF_INET6; datagram and stream), connect, sendto, recvfrom, poll,
// getsockopt (SO_ERROR of a TCP connect), setsockopt (glibc's res_nsend
// asks for ICMP errors), close; clock reads.
#pragma once

#include <resolv.h>

#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <utility>

#include "dns/dns_reply.hpp"
#include "dns/dns_source.hpp"

class udp_query;

class resolver_source final : public dns_source {
 public:
  using clock_type = std::chrono::steady_clock;

  resolver_source(res_state state, clock_type::time_point deadline);
  ~resolver_source() override;
  resolver_source(const resolver_source&) = delete;
  resolver_source& operator=(const resolver_source&) = delete;

  void ask_ahead(const std::string& name, dns_type type) override;
  dns_reply lookup(const std::string& name, dns_type type) override;

 private:
  struct question {
    std::unique_ptr<udp_query> udp;  // until answered
    bool answered = false;
    dns_reply reply;
  };
  using key = std::pair<std::string, dns_type>;

  question& entry(const std::string& name, dns_type type);
  dns_reply answer(question& asked, const std::string& name, dns_type type);
  dns_reply ask_again(udp_query& udp, const std::string& name, dns_type type);
  dns_reply over_tcp(const udp_query& udp, const std::string& name, dns_type type);

  res_state state_;
  clock_type::time_point deadline_;
  std::map<key, question> questions_;
};
