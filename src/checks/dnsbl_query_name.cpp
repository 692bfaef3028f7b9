#include "checks/dnsbl_query_name.hpp"

#include <arpa/inet.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

bool ipv6_query_name(const uint8_t (&address)[16], const char* zone, char* name, std::size_t size) {
  static constexpr char hex_digits[] = "0123456789abcdef";
  char nibbles[64 + 1];
  char* out = nibbles;
  for (int index = 15; index >= 0; --index) {
    *out++ = hex_digits[address[index] & 0x0f];
    *out++ = '.';
    *out++ = hex_digits[address[index] >> 4];
    *out++ = '.';
  }
  *out = '\0';
  int length = std::snprintf(name, size, "%s%s.", nibbles, zone);
  return length >= 0 && static_cast<std::size_t>(length) < size;
}

// "d.c.b.a.zone." for the host-order address a.b.c.d, built by hand: this
// runs for every message and snprintf costs ten times as much.
bool ipv4_query_name(uint32_t host, const char* zone, char* name, std::size_t size) {
  char octets[16];
  char* out = octets;
  for (int shift = 0; shift < 32; shift += 8) {
    unsigned octet = (host >> shift) & 0xffU;
    if (octet >= 100) *out++ = static_cast<char>('0' + octet / 100);
    if (octet >= 10) *out++ = static_cast<char>('0' + octet / 10 % 10);
    *out++ = static_cast<char>('0' + octet % 10);
    *out++ = '.';
  }
  std::size_t prefix = static_cast<std::size_t>(out - octets);
  std::size_t zone_length = std::strlen(zone);
  if (prefix + zone_length + 2 > size) return false;
  std::memcpy(name, octets, prefix);
  std::memcpy(name + prefix, zone, zone_length);
  name[prefix + zone_length] = '.';
  name[prefix + zone_length + 1] = '\0';
  return true;
}

}  // namespace

bool dnsbl_query_name(const connection_context& context, const char* zone, char* name,
                      std::size_t size) {
  if (zone == nullptr || size == 0) return false;
  if (context.client_is_ipv6 != 0) return ipv6_query_name(context.client_ipv6, zone, name, size);
  return ipv4_query_name(ntohl(context.client_ip), zone, name, size);
}
