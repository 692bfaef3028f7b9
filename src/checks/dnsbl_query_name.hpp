// The name a DNS blocklist is asked for a client.
#pragma once

#include <cstddef>

#include "connection/connection_context.hpp"

// DNS names are at most 253 characters; with the final dot this many bytes
// hold every name worth asking for.
inline constexpr std::size_t dnsbl_query_name_size = 256;

// Writes the absolute query name for the client into `name` (`size` bytes):
// the four IPv4 octets in reverse order, or for a pure IPv6 client its 32
// nibbles in reverse order, then the zone and a final dot
// ("7.2.0.192.bl.example."). False when there is no zone or the name does not
// fit; such a name is never queried.
bool dnsbl_query_name(const connection_context& context, const char* zone, char* name,
                      std::size_t size);
