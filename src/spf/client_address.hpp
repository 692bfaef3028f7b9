// The forms of a client address the SPF evaluation needs: its text, its
// "i" macro form, its reverse-lookup name, and network membership.
#pragma once

#include <string>

#include "dns/dns_reply.hpp"

// The usual text ("192.0.2.1", "2001:db8::1").
std::string address_text(const ip_address& address);

// Dotted decimal for IPv4; for IPv6 the 32 nibbles, high-order first,
// separated by dots.
std::string address_dotted(const ip_address& address);

// The name whose PTR records name the address: "d.c.b.a.in-addr.arpa" or
// the reversed nibbles under "ip6.arpa".
std::string reverse_lookup_name(const ip_address& address);

// True when `address` lies in `network`/`length` (same family only).
bool in_network(const ip_address& address, const ip_address& network, int length);
