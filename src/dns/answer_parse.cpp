// Reading DNS response messages with glibc's parser (see answer_parse.hpp).
#include "dns/answer_parse.hpp"

#include <arpa/nameser.h>
#include <netinet/in.h>
#include <resolv.h>

#include <algorithm>
#include <cstring>
#include <string_view>

namespace {

// A name in glibc's presentation form, as dn_expand and ns_parserr write it.
using name_buffer = char[NS_MAXDNAME];

char ascii_lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool same_name(std::string_view left, std::string_view right) {
  if (left.size() != right.size()) return false;
  for (std::size_t at = 0; at < left.size(); ++at) {
    if (left[at] != right[at] && ascii_lower(left[at]) != ascii_lower(right[at])) return false;
  }
  return true;
}

// Whether the asked name is the name ns_parserr gives for a question. Most
// often the asked text is that name as it stands, but for its case and a
// final dot; else both are compared as glibc writes them (through the wire
// form and back), so that escapes compare as what they stand for.
bool is_asked_name(const std::string& asked, const char* echoed) {
  std::string_view plain(asked);
  if (!plain.empty() && plain.back() == '.') plain.remove_suffix(1);
  if (same_name(plain, echoed)) return true;
  unsigned char wire[NS_MAXCDNAME];
  name_buffer canonical;
  return ns_name_pton(asked.c_str(), wire, sizeof wire) >= 0 &&
         ns_name_ntop(wire, canonical, sizeof canonical) >= 0 && same_name(canonical, echoed);
}

// The header as glibc lays it out, copied out of a message that may be
// unaligned; false when the message is shorter than a header.
bool header_of(std::span<const unsigned char> message, HEADER& header) {
  if (message.size() < sizeof header) return false;
  std::memcpy(&header, message.data(), sizeof header);
  return true;
}

// The one question of a parsed message; false when there is not exactly one.
bool only_question(ns_msg& handle, ns_rr& question) {
  return ns_msg_count(handle, ns_s_qd) == 1 && ns_parserr(&handle, ns_s_qd, 0, &question) == 0;
}

bool parse(std::span<const unsigned char> message, ns_msg& handle) {
  return ns_initparse(message.data(), static_cast<int>(message.size()), &handle) == 0;
}

// Appends the data of one record of the asked type; false when it does not
// fit the type.
bool add_record(const ns_msg& handle, const ns_rr& record, dns_type type, dns_reply& reply) {
  const unsigned char* data = ns_rr_rdata(record);
  std::size_t length = ns_rr_rdlen(record);
  const unsigned char* start = ns_msg_base(handle);
  const unsigned char* end = ns_msg_end(handle);
  name_buffer name;
  switch (type) {
    case dns_type::a:
    case dns_type::aaaa: {
      ip_address address;
      address.v6 = type == dns_type::aaaa;
      if (length != (address.v6 ? NS_IN6ADDRSZ : NS_INADDRSZ)) return false;
      std::copy_n(data, length, address.bytes.begin());
      reply.addresses.push_back(address);
      return true;
    }
    case dns_type::txt: {
      // One or more character-strings, each a length byte and its bytes.
      std::string text;
      std::size_t at = 0;
      while (at < length) {
        std::size_t size = data[at];
        if (at + 1 + size > length) return false;
        text.append(reinterpret_cast<const char*>(data + at + 1), size);
        at += 1 + size;
      }
      reply.texts.push_back(std::move(text));
      return true;
    }
    case dns_type::mx: {
      if (length < NS_INT16SZ) return false;
      int used = dn_expand(start, end, data + NS_INT16SZ, name, sizeof name);
      if (used < 0 || static_cast<std::size_t>(used) + NS_INT16SZ != length) return false;
      reply.names.emplace_back(name);
      return true;
    }
    case dns_type::ptr: {
      int used = dn_expand(start, end, data, name, sizeof name);
      if (used < 0 || static_cast<std::size_t>(used) != length) return false;
      reply.names.emplace_back(name);
      return true;
    }
  }
  return false;
}

dns_reply failure() { return dns_reply{}; }

}  // namespace

dns_reply parse_answer(std::span<const unsigned char> message, const std::string& name,
                       dns_type type) {
  ns_msg handle;
  ns_rr question;
  if (!parse(message, handle) || !only_question(handle, question)) return failure();
  if (ns_msg_getflag(handle, ns_f_qr) == 0 || ns_msg_getflag(handle, ns_f_opcode) != ns_o_query ||
      ns_msg_getflag(handle, ns_f_tc) != 0 || ns_rr_class(question) != ns_c_in ||
      ns_rr_type(question) != static_cast<int>(type) ||
      !is_asked_name(name, ns_rr_name(question))) {
    return failure();
  }
  int rcode = ns_msg_getflag(handle, ns_f_rcode);
  if (rcode != ns_r_noerror && rcode != ns_r_nxdomain) return failure();
  dns_reply reply;
  reply.status = rcode == ns_r_nxdomain ? dns_reply::nxdomain : dns_reply::nodata;
  if (reply.status == dns_reply::nxdomain) return reply;
  int records = ns_msg_count(handle, ns_s_an);
  for (int index = 0; index < records; ++index) {
    ns_rr record;
    if (ns_parserr(&handle, ns_s_an, index, &record) != 0) return failure();
    if (ns_rr_class(record) != ns_c_in || ns_rr_type(record) != static_cast<int>(type)) continue;
    if (!add_record(handle, record, type, reply)) return failure();
    reply.status = dns_reply::found;
  }
  return reply;
}

bool answers_query(std::span<const unsigned char> answer, std::span<const unsigned char> query) {
  HEADER answer_header;
  HEADER query_header;
  if (!header_of(answer, answer_header) || !header_of(query, query_header) ||
      answer_header.id != query_header.id || answer_header.qr == 0) {
    return false;
  }
  ns_msg answer_handle;
  ns_msg query_handle;
  ns_rr echoed;
  ns_rr asked;
  if (!parse(answer, answer_handle)) return true;
  return parse(query, query_handle) && only_question(query_handle, asked) &&
         only_question(answer_handle, echoed) && ns_rr_type(echoed) == ns_rr_type(asked) &&
         ns_rr_class(echoed) == ns_rr_class(asked) &&
         same_name(ns_rr_name(echoed), ns_rr_name(asked));
}

bool answer_truncated(std::span<const unsigned char> answer) {
  HEADER header;
  return header_of(answer, header) && header.tc != 0;
}
