// An SPF record (RFC 7208 sections 4.5 and 12): telling one among TXT
// strings, and parsing it whole, so that a syntax error anywhere is found
// before any term is evaluated.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "dns/dns_reply.hpp"

enum class spf_mechanism : uint8_t { all, include, a, mx, ptr, ip4, ip6, exists };

struct spf_term {
  char qualifier = '+';  // '+' pass, '-' fail, '~' softfail, '?' neutral
  spf_mechanism mechanism = spf_mechanism::all;
  std::string domain_spec;  // macro string; empty: the current domain
  int cidr4 = 32;           // a, mx, ip4
  int cidr6 = 128;          // a, mx, ip6
  ip_address network;       // ip4, ip6
};

struct spf_record {
  std::vector<spf_term> terms;  // in order
  std::string redirect;         // domain-spec; empty when absent
  std::string explanation;      // exp= domain-spec; empty when absent
};

// True when `text` is an SPF record: "v=spf1" (any case) followed by a
// space or the end.
bool is_spf_record(std::string_view text);

// Parses a whole record; false with `problem` set at the first error.
bool parse_spf_record(std::string_view text, spf_record& record, std::string& problem);
