// The SPF evaluation of RFC 7208: check_host() for one client, sender and
// HELO name, with its DNS answers from a dns_source.
//
// What it does, in order: the sender's domain is checked (labels of 1 to 63
// characters, at least two labels: else none); its one "v=spf1" TXT record
// is fetched (none, several: permerror) and parsed whole (any syntax error:
// permerror) before a term is evaluated; the terms are evaluated left to
// right, includes and redirect= recursively, with the limits of RFC 7208
// 4.6.4 across the whole evaluation (10 DNS-querying terms, 2 void
// lookups, 10 MX and 10 PTR names looked at). An IPv4-mapped IPv6 client
// is evaluated as IPv4. With an empty sender the HELO identity
// (postmaster@HELO) is checked. Any DNS failure met on the way is a
// temperror. exp= is parsed but its explanation is not fetched: nothing
// shows it.
//
// Pure computation on the caller's thread; the time limit is the DNS
// source's (a question past it fails, hence temperror).
#pragma once

#include <cstdint>
#include <string>

#include "dns/dns_reply.hpp"
#include "dns/dns_source.hpp"

struct spf_request {
  ip_address client;
  std::string helo;      // HELO or EHLO argument
  std::string sender;    // envelope sender without brackets; "" for the null sender
  std::string receiver;  // the receiving host, %{r}
};

// Macro letters the evaluation expanded, one bit each ('a' is bit 0). A
// result that depends on letters beyond the cache's key (the client address
// and the sender's domain) must not be served to another message.
inline constexpr uint32_t macro_bit(char letter) {
  return 1U << static_cast<unsigned>(letter - 'a');
}

struct spf_verdict {
  int32_t result = 0;          // spf_code (spf/spf_result.hpp)
  uint32_t macro_letters = 0;  // macro_bit of each letter expanded
  std::string problem;         // permerror, temperror: what went wrong, for the log
};

spf_verdict check_host(const spf_request& request, dns_source& dns);

// True when `text` is a valid client address text; fills `address` (an
// IPv4-mapped IPv6 text gives the IPv4 address).
bool parse_ip_address(const std::string& text, ip_address& address);
