// The DNS blocklist lookup (see dnsbl_lookup.hpp).
#include "checks/dnsbl_lookup.hpp"

#include <arpa/inet.h>
#include <arpa/nameser.h>
#include <resolv.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include "metrics/counters.hpp"

namespace {

// One resolver state per worker thread (libmilter runs each connection on
// its own thread). res_ninit takes /etc/resolv.conf as glibc holds it (name
// servers, timeout, attempts, options; glibc re-reads the file when it
// changed), so every new connection sees the current configuration; the UDP
// socket to the name server stays open between the thread's queries.
// `__res_state` is also the name of a function in <resolv.h>.
using resolver_state = struct __res_state;

class thread_resolver {
 public:
  thread_resolver() = default;
  thread_resolver(const thread_resolver&) = delete;
  thread_resolver& operator=(const thread_resolver&) = delete;
  ~thread_resolver() {
    if (ready_) res_nclose(&state_);
  }

  res_state get() {
    if (!ready_) {
      state_ = resolver_state{};
      if (res_ninit(&state_) != 0) return nullptr;
      state_.options |= RES_STAYOPEN;
      ready_ = true;
    }
    return &state_;
  }

 private:
  resolver_state state_{};
  bool ready_ = false;
};

thread_local thread_resolver worker_resolver;

// Appends the addresses of one answer's A or AAAA records to `*link`.
// False when the message is malformed.
bool add_answers(const unsigned char* message, int length, int type, addrinfo*** link) {
  if (length < NS_HFIXEDSZ) return false;
  const unsigned char* end = message + length;
  int questions = (message[4] << 8) | message[5];
  int answers = (message[6] << 8) | message[7];
  const unsigned char* at = message + NS_HFIXEDSZ;
  for (; questions > 0; --questions) {
    int skip = dn_skipname(at, end);
    if (skip < 0 || end - at < skip + NS_QFIXEDSZ) return false;
    at += skip + NS_QFIXEDSZ;
  }
  for (; answers > 0; --answers) {
    int skip = dn_skipname(at, end);
    if (skip < 0 || end - at < skip + NS_RRFIXEDSZ) return false;
    at += skip;
    int record_type = (at[0] << 8) | at[1];
    int record_class = (at[2] << 8) | at[3];
    int data_length = (at[8] << 8) | at[9];
    at += NS_RRFIXEDSZ;
    if (end - at < data_length) return false;
    int want_length = type == ns_t_a ? NS_INADDRSZ : NS_IN6ADDRSZ;
    if (record_type == type && record_class == ns_c_in && data_length == want_length) {
      auto* node = static_cast<addrinfo*>(std::calloc(1, sizeof(addrinfo) + sizeof(sockaddr_in6)));
      if (node == nullptr) return false;
      auto* address = reinterpret_cast<sockaddr*>(node + 1);
      if (type == ns_t_a) {
        auto* v4 = reinterpret_cast<sockaddr_in*>(address);
        v4->sin_family = AF_INET;
        std::memcpy(&v4->sin_addr, at, NS_INADDRSZ);
        node->ai_addrlen = sizeof(sockaddr_in);
      } else {
        auto* v6 = reinterpret_cast<sockaddr_in6*>(address);
        v6->sin6_family = AF_INET6;
        std::memcpy(&v6->sin6_addr, at, NS_IN6ADDRSZ);
        node->ai_addrlen = sizeof(sockaddr_in6);
      }
      node->ai_family = address->sa_family;
      node->ai_socktype = SOCK_STREAM;
      node->ai_addr = address;
      **link = node;
      *link = &node->ai_next;
    }
    at += data_length;
  }
  return true;
}

void system_release(addrinfo* answers) {
  while (answers != nullptr) {
    addrinfo* next = answers->ai_next;
    std::free(answers);  // its address is in the same block
    answers = next;
  }
}

// Asks for the A records first and for the AAAA records only when the A
// answer does not settle it: a name that does not exist (NXDOMAIN) has no
// AAAA record either, and a failure or timeout of the A query reads as "not
// listed" at once, so a silent server costs one resolver timeout, as with
// getaddrinfo. A listed client thus costs one query, not an A and an AAAA
// query, and no /etc/hosts read (the query name ends with a dot, which no
// hosts entry matches). Returns 0 with the addresses, as getaddrinfo would.
int system_resolve(const char* name, addrinfo** answers) {
  *answers = nullptr;
  res_state state = worker_resolver.get();
  if (state == nullptr) return EAI_FAIL;
  unsigned char message[NS_PACKETSZ * 4];
  addrinfo** link = answers;
  bool failed = false;
  for (int type : {ns_t_a, ns_t_aaaa}) {
    int length = res_nquery(state, name, ns_c_in, type, message, sizeof message);
    if (length < 0) {
      if (state->res_h_errno == NO_DATA) continue;
      // No such name; anything else is a failure or timeout.
      failed = state->res_h_errno != HOST_NOT_FOUND;
      break;
    }
    if (!add_answers(message, std::min<int>(length, sizeof message), type, &link)) {
      failed = true;
      break;
    }
    if (dnsbl_answer_lists(*answers)) break;
  }
  if (*answers != nullptr) return 0;
  return failed ? EAI_AGAIN : EAI_NONAME;
}

dnsbl_resolver current_resolver{system_resolve, system_release};

bool is_error_answer(const addrinfo* answer) {
  if (answer->ai_family != AF_INET || answer->ai_addr == nullptr) return false;
  const auto* address = reinterpret_cast<const sockaddr_in*>(answer->ai_addr);
  return (ntohl(address->sin_addr.s_addr) & 0xffffff00U) == 0x7fffff00U;
}

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

metric dnsbl_outcome(int status, bool answered, bool listed) {
  if (listed) return metric::dnsbl_listed;
  if (status == 0 && answered) return metric::dnsbl_error_answer;
  if (status == 0 || status == EAI_NONAME || status == EAI_NODATA) return metric::dnsbl_not_listed;
  return metric::dnsbl_failure;
}

bool dnsbl_answer_lists(const addrinfo* answers) {
  for (const addrinfo* answer = answers; answer != nullptr; answer = answer->ai_next) {
    if (!is_error_answer(answer)) return true;
  }
  return false;
}

bool dnsbl_listed(const connection_context& context, const char* zone) {
  char name[dnsbl_query_name_size];
  return dnsbl_query_name(context, zone, name, sizeof name) && dnsbl_name_listed(name);
}

bool dnsbl_name_listed(const char* name) {
  addrinfo* answers = nullptr;
  auto started = std::chrono::steady_clock::now();
  int status = current_resolver.resolve(name, &answers);
  auto took = std::chrono::steady_clock::now() - started;
  bool listed = status == 0 && dnsbl_answer_lists(answers);
  if (answers != nullptr) current_resolver.release(answers);
  count_dnsbl_lookup(dnsbl_outcome(status, answers != nullptr, listed), took);
  return listed;
}

bool dnsbl_uses_system_resolver() { return current_resolver.resolve == system_resolve; }

res_state dnsbl_thread_resolver() { return worker_resolver.get(); }

bool dnsbl_parse_answer(const unsigned char* message, int length, int type, addrinfo** answers) {
  *answers = nullptr;
  addrinfo** link = answers;
  return add_answers(message, length, type, &link);
}

void dnsbl_release_answers(addrinfo* answers) { system_release(answers); }

bool dnsbl_decide(int status, addrinfo* answers, std::chrono::steady_clock::duration took) {
  bool listed = status == 0 && dnsbl_answer_lists(answers);
  count_dnsbl_lookup(dnsbl_outcome(status, answers != nullptr, listed), took);
  if (answers != nullptr) system_release(answers);
  return listed;
}

dnsbl_resolver set_dnsbl_resolver(dnsbl_resolver resolver) {
  dnsbl_resolver previous = current_resolver;
  current_resolver =
      resolver.resolve != nullptr ? resolver : dnsbl_resolver{system_resolve, system_release};
  return previous;
}
