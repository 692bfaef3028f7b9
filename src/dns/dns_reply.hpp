// What one DNS question got back, as the SPF evaluation and the blocklist
// lookup use it: the outcome and the records of the asked type only
// (CNAME chains followed by the server are already resolved; records of
// other types in the answer are left out).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

enum class dns_type : uint16_t { a = 1, ptr = 12, mx = 15, txt = 16, aaaa = 28 };

// An IPv4 or IPv6 address in network byte order; IPv4 uses the first four
// bytes.
struct ip_address {
  bool v6 = false;
  std::array<uint8_t, 16> bytes{};
  bool operator==(const ip_address&) const = default;
};

struct dns_reply {
  enum status_t : uint8_t {
    found,     // at least one record of the asked type
    nxdomain,  // no such name (RCODE 3)
    nodata,    // the name exists, no record of the asked type
    failed     // timeout, SERVFAIL, REFUSED, a malformed answer: try again later
  } status = failed;
  std::vector<std::string> texts;     // TXT: one entry per record, its strings joined
  std::vector<std::string> names;     // MX exchanges (any order), PTR names; no final dot
  std::vector<ip_address> addresses;  // A or AAAA
};
