// Fuzzes the DNS answer parser (parse_answer, answers_query): any bytes as
// the response to a question for "a.example" of each of the five types.
//
// Checked besides crashes: a `found` reply holds records of the asked type
// only (TXT texts, MX and PTR names, A and AAAA addresses of their own
// family) and at least one; any other reply holds none.
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>

#include "dns/answer_parse.hpp"

namespace {

void check(const dns_reply& reply, dns_type type) {
  bool found = reply.status == dns_reply::found;
  bool texts = type == dns_type::txt;
  bool names = type == dns_type::mx || type == dns_type::ptr;
  bool addresses = type == dns_type::a || type == dns_type::aaaa;
  if (reply.texts.empty() == (found && texts)) std::abort();
  if (reply.names.empty() == (found && names)) std::abort();
  if (reply.addresses.empty() == (found && addresses)) std::abort();
  for (const ip_address& address : reply.addresses) {
    if (address.v6 != (type == dns_type::aaaa)) std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::span<const unsigned char> message(data, size);
  const std::string name = "a.example";
  for (dns_type type : {dns_type::a, dns_type::aaaa, dns_type::txt, dns_type::mx, dns_type::ptr}) {
    check(parse_answer(message, name, type), type);
  }
  // The message against itself as the query: it must not matter which is which.
  (void)answers_query(message, message);
  return 0;
}
