// A DNS server on 127.0.0.1 (UDP and TCP, one port) run by a test in its
// own thread, answering from records the test gives it, with the faults a
// test asks for; and a resolver state pointed at it, built without reading
// the host's /etc/resolv.conf.
#pragma once

#include <resolv.h>

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "dns/dns_messages.hpp"

// What the test server does wrong, on purpose.
struct dns_server_faults {
  std::size_t hold_until_names = 0;  // answer none until this many names were asked
  bool silent = false;               // never answer
  bool truncate_udp = false;         // UDP answers: TC set, no records (TCP answers whole)
  bool tcp_silent = false;           // TCP: accept, read the query, never answer
  int servfail_first = 0;            // the first N UDP queries get SERVFAIL
  bool stray_first = false;  // before each UDP answer: one with another id, one for another name
};

class test_dns_server {
 public:
  explicit test_dns_server(dns_server_faults how = {});
  ~test_dns_server();
  test_dns_server(const test_dns_server&) = delete;
  test_dns_server& operator=(const test_dns_server&) = delete;

  uint16_t port() const { return port_; }
  // Adds a record (`type` and its data); names are kept in lower case.
  void add(const std::string& name, uint16_t type, const dns_messages::bytes& data);
  // Queries received for the name and type (UDP and TCP), over TCP only, in all.
  int queries(const std::string& name, uint16_t type);
  int tcp_queries();
  int all_queries();

 private:
  struct query {
    uint16_t id;
    std::string name;
    uint16_t type;
  };
  void serve();
  void on_datagram();
  void on_connection();
  bool read_query(const unsigned char* data, std::size_t size, query& out, bool tcp);
  dns_messages::bytes answer_of(const query& asked, bool tcp);
  void send_datagram(const query& asked, const sockaddr_storage& to, socklen_t length);

  dns_server_faults how_;
  int udp_ = -1;
  int tcp_ = -1;
  int stop_pipe_[2] = {-1, -1};
  uint16_t port_ = 0;
  std::mutex lock_;  // guards what follows
  std::map<std::pair<std::string, uint16_t>, std::vector<dns_messages::bytes>> records_;
  std::map<std::pair<std::string, uint16_t>, int> counts_;
  std::set<std::string> names_asked_;
  int tcp_count_ = 0;
  int udp_count_ = 0;
  std::vector<std::pair<query, std::pair<sockaddr_storage, socklen_t>>> held_;
  std::vector<int> open_connections_;  // server thread only
  std::thread thread_;
};

// A resolver state with one name server, 127.0.0.1 at `port`, and the
// given per-try timeout (seconds) and tries; closed (res_nclose) at the end.
class test_resolver {
 public:
  test_resolver(uint16_t port, int retrans, int retry);
  ~test_resolver();
  test_resolver(const test_resolver&) = delete;
  test_resolver& operator=(const test_resolver&) = delete;
  res_state get() { return &state_; }

 private:
  struct __res_state state_ {};
};
