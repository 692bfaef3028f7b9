// Answers as getaddrinfo lists them (see dnsbl_answers.hpp).
#include "checks/dnsbl_answers.hpp"

#include <arpa/nameser.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdlib>
#include <cstring>

namespace {

// Appends one address as an addrinfo node (the address in the same block)
// at `*link`; false when memory runs out.
bool append_address(const ip_address& address, addrinfo*** link) {
  auto* node = static_cast<addrinfo*>(std::calloc(1, sizeof(addrinfo) + sizeof(sockaddr_in6)));
  if (node == nullptr) return false;
  auto* place = reinterpret_cast<sockaddr*>(node + 1);
  if (address.v6) {
    auto* v6 = reinterpret_cast<sockaddr_in6*>(place);
    v6->sin6_family = AF_INET6;
    std::memcpy(&v6->sin6_addr, address.bytes.data(), NS_IN6ADDRSZ);
    node->ai_addrlen = sizeof(sockaddr_in6);
  } else {
    auto* v4 = reinterpret_cast<sockaddr_in*>(place);
    v4->sin_family = AF_INET;
    std::memcpy(&v4->sin_addr, address.bytes.data(), NS_INADDRSZ);
    node->ai_addrlen = sizeof(sockaddr_in);
  }
  node->ai_family = place->sa_family;
  node->ai_socktype = SOCK_STREAM;
  node->ai_addr = place;
  **link = node;
  *link = &node->ai_next;
  return true;
}

}  // namespace

bool dnsbl_append_answers(const dns_reply& reply, addrinfo*** link) {
  for (const ip_address& address : reply.addresses) {
    if (!append_address(address, link)) return false;
  }
  return true;
}

addrinfo* dnsbl_answers_of(const dns_reply& reply) {
  addrinfo* answers = nullptr;
  addrinfo** link = &answers;
  if (!dnsbl_append_answers(reply, &link)) {
    dnsbl_release_answers(answers);
    return nullptr;
  }
  return answers;
}

void dnsbl_release_answers(addrinfo* answers) {
  while (answers != nullptr) {
    addrinfo* next = answers->ai_next;
    std::free(answers);  // its address is in the same block
    answers = next;
  }
}
