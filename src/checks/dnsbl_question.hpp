// A blocklist question sent now and answered later, without a thread.
//
// The envelope-sender stage sends the A query for the client's name at
// MAIL FROM (dns/udp_query.hpp: a non-blocking UDP socket to the first name
// server of the worker thread's resolver state, /etc/resolv.conf as glibc
// holds it, IPv4 or IPv6) and goes on; listed() reads the answer when the
// end of the message needs it, waiting as the resolver would (its timeout
// and attempts, see read_answer) from when it was sent, and reads it with
// the DNS layer's parser (dns/answer_parse.hpp). An answer that settles
// the question (no such name; an A record that lists the client) is used
// as it is. Anything else (a server failure or refusal, a truncated
// answer, a name without a listing A record, where the AAAA records
// decide) is asked again the ordinary way (dnsbl_name_listed, with the
// resolver's retries, other servers, TCP and AAAA), so the outcome is the
// one the lookup made on the spot would give. Without a resolver state
// (dnsbl_thread_resolver) or a name server, nothing is sent ahead and
// listed() asks the ordinary way.
//
// Destroying a question closes its socket: an answer never read is dropped.
// One question belongs to one message, used by one thread at a time.
#pragma once

#include <chrono>
#include <memory>
#include <string>

class udp_query;

class dnsbl_question {
 public:
  explicit dnsbl_question(std::string name);
  ~dnsbl_question();
  dnsbl_question(const dnsbl_question&) = delete;
  dnsbl_question& operator=(const dnsbl_question&) = delete;

  // Whether the client is listed; counts the lookup. Call once.
  bool listed();

 private:
  // The answer read from the socket; nothing when it must be asked again.
  enum class early { listed, not_listed, ask_again };
  early read_answer();

  std::string name_;
  std::unique_ptr<udp_query> query_;            // while sent and not yet read
  std::chrono::steady_clock::duration wait_{};  // the first timeout
  int attempts_ = 1;
};
