// Client address texts (parse_ip_address of check_host.hpp).
#include <arpa/inet.h>

#include <algorithm>

#include "spf/check_host.hpp"
#include "spf/client_address.hpp"

bool parse_ip_address(const std::string& text, ip_address& address) {
  address = ip_address{};
  if (inet_pton(AF_INET, text.c_str(), address.bytes.data()) == 1) return true;
  if (inet_pton(AF_INET6, text.c_str(), address.bytes.data()) != 1) return false;
  address.v6 = true;
  // ::ffff:a.b.c.d is the IPv4 client a.b.c.d.
  constexpr uint8_t mapped_prefix[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
  if (std::equal(mapped_prefix, mapped_prefix + 12, address.bytes.begin())) {
    std::copy(address.bytes.begin() + 12, address.bytes.end(), address.bytes.begin());
    std::fill(address.bytes.begin() + 4, address.bytes.end(), 0);
    address.v6 = false;
  }
  return true;
}

std::string address_text(const ip_address& address) {
  char text[INET6_ADDRSTRLEN] = {};
  (void)inet_ntop(address.v6 ? AF_INET6 : AF_INET, address.bytes.data(), text, sizeof text);
  return text;
}

namespace {

constexpr char hex_digits[] = "0123456789abcdef";

std::string nibbles(const ip_address& address, bool reversed) {
  std::string out;
  for (int i = 0; i < 32; ++i) {
    int n = reversed ? 31 - i : i;
    uint8_t byte = address.bytes[static_cast<std::size_t>(n / 2)];
    if (i > 0) out += '.';
    out += hex_digits[n % 2 == 0 ? byte >> 4 : byte & 0x0f];
  }
  return out;
}

}  // namespace

std::string address_dotted(const ip_address& address) {
  return address.v6 ? nibbles(address, false) : address_text(address);
}

std::string reverse_lookup_name(const ip_address& address) {
  if (address.v6) return nibbles(address, true) + ".ip6.arpa";
  const auto& b = address.bytes;
  return std::to_string(b[3]) + '.' + std::to_string(b[2]) + '.' + std::to_string(b[1]) + '.' +
         std::to_string(b[0]) + ".in-addr.arpa";
}

bool in_network(const ip_address& address, const ip_address& network, int length) {
  if (address.v6 != network.v6) return false;
  int whole = length / 8;
  for (int i = 0; i < whole; ++i) {
    if (address.bytes[static_cast<std::size_t>(i)] != network.bytes[static_cast<std::size_t>(i)]) {
      return false;
    }
  }
  int bits = length % 8;
  if (bits == 0) return true;
  auto mask = static_cast<uint8_t>(0xff << (8 - bits));
  auto i = static_cast<std::size_t>(whole);
  return (address.bytes[i] & mask) == (network.bytes[i] & mask);
}
