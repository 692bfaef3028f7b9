#include "checks/dnsbl_listing.hpp"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>

namespace {

bool is_error_answer(const addrinfo* answer) {
  if (answer->ai_family != AF_INET || answer->ai_addr == nullptr) return false;
  const auto* address = reinterpret_cast<const sockaddr_in*>(answer->ai_addr);
  return (ntohl(address->sin_addr.s_addr) & 0xffffff00U) == 0x7fffff00U;
}

}  // namespace

bool dnsbl_answer_lists(const addrinfo* answers) {
  for (const addrinfo* answer = answers; answer != nullptr; answer = answer->ai_next) {
    if (!is_error_answer(answer)) return true;
  }
  return false;
}

metric dnsbl_outcome(int status, bool answered, bool listed) {
  if (listed) return metric::dnsbl_listed;
  if (status == 0 && answered) return metric::dnsbl_error_answer;
  if (status == 0 || status == EAI_NONAME || status == EAI_NODATA) return metric::dnsbl_not_listed;
  return metric::dnsbl_failure;
}
