// The DNS blocklist lookup (see dnsbl_lookup.hpp).
#include "checks/dnsbl_lookup.hpp"

#include <arpa/inet.h>
#include <cstdio>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace {

// DNS names are at most 253 characters; with the final dot this buffer
// holds every name worth asking for.
constexpr std::size_t query_name_size = 256;

int system_resolve(const char* name, addrinfo** answers) {
  return getaddrinfo(name, nullptr, nullptr, answers);
}

void system_release(addrinfo* answers) { freeaddrinfo(answers); }

dnsbl_resolver current_resolver{system_resolve, system_release};

bool is_error_answer(const addrinfo* answer) {
  if (answer->ai_family != AF_INET || answer->ai_addr == nullptr) return false;
  const auto* address = reinterpret_cast<const sockaddr_in*>(answer->ai_addr);
  return (ntohl(address->sin_addr.s_addr) & 0xffffff00U) == 0x7fffff00U;
}

bool ipv6_query_name(const uint8_t (&address)[16], const char* zone, char* name,
                     std::size_t size) {
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

}  // namespace

bool dnsbl_query_name(const connection_context& context, const char* zone, char* name,
                      std::size_t size) {
  if (zone == nullptr || size == 0) return false;
  if (context.client_is_ipv6 != 0) return ipv6_query_name(context.client_ipv6, zone, name, size);
  unsigned long host = ntohl(context.client_ip);
  int length = std::snprintf(name, size, "%lu.%lu.%lu.%lu.%s.", host & 0xff, (host >> 8) & 0xff,
                             (host >> 16) & 0xff, (host >> 24) & 0xff, zone);
  return length >= 0 && static_cast<std::size_t>(length) < size;
}

bool dnsbl_answer_lists(const addrinfo* answers) {
  for (const addrinfo* answer = answers; answer != nullptr; answer = answer->ai_next) {
    if (!is_error_answer(answer)) return true;
  }
  return false;
}

bool dnsbl_listed(const connection_context& context, const char* zone) {
  char name[query_name_size];
  if (!dnsbl_query_name(context, zone, name, sizeof name)) return false;
  addrinfo* answers = nullptr;
  int status = current_resolver.resolve(name, &answers);
  bool listed = status == 0 && dnsbl_answer_lists(answers);
  if (answers != nullptr) current_resolver.release(answers);
  return listed;
}

dnsbl_resolver set_dnsbl_resolver(dnsbl_resolver resolver) {
  dnsbl_resolver previous = current_resolver;
  current_resolver =
      resolver.resolve != nullptr ? resolver : dnsbl_resolver{system_resolve, system_release};
  return previous;
}
