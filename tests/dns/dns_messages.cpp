#include "dns/dns_messages.hpp"

#include <arpa/inet.h>

namespace dns_messages {

namespace {

void put16(bytes& out, uint16_t value) {
  out.push_back(static_cast<unsigned char>(value >> 8));
  out.push_back(static_cast<unsigned char>(value & 0xff));
}

}  // namespace

bytes name(const std::string& dotted) {
  bytes out;
  std::size_t start = 0;
  while (start < dotted.size()) {
    std::size_t end = dotted.find('.', start);
    if (end == std::string::npos) end = dotted.size();
    out.push_back(static_cast<unsigned char>(end - start));
    out.insert(out.end(), dotted.begin() + static_cast<long>(start),
               dotted.begin() + static_cast<long>(end));
    start = end + 1;
  }
  out.push_back(0);
  return out;
}

bytes pointer(uint16_t offset) {
  bytes out;
  put16(out, static_cast<uint16_t>(0xc000 | offset));
  return out;
}

bytes concat(std::initializer_list<bytes> parts) {
  bytes out;
  for (const bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

bytes a(const char* text) {
  bytes out(4);
  inet_pton(AF_INET, text, out.data());
  return out;
}

bytes aaaa(const char* text) {
  bytes out(16);
  inet_pton(AF_INET6, text, out.data());
  return out;
}

bytes txt(std::initializer_list<std::string> strings) {
  bytes out;
  for (const std::string& text : strings) {
    out.push_back(static_cast<unsigned char>(text.size()));
    out.insert(out.end(), text.begin(), text.end());
  }
  return out;
}

bytes mx(uint16_t preference, const bytes& exchange) {
  bytes out;
  put16(out, preference);
  out.insert(out.end(), exchange.begin(), exchange.end());
  return out;
}

bytes record(const bytes& owner, uint16_t type, const bytes& data, uint16_t record_class) {
  bytes out = owner;
  put16(out, type);
  put16(out, record_class);
  put16(out, 0);
  put16(out, 300);  // TTL
  put16(out, static_cast<uint16_t>(data.size()));
  out.insert(out.end(), data.begin(), data.end());
  return out;
}

bytes response(uint16_t id, uint16_t flags, const std::string& question, uint16_t type,
               const std::vector<bytes>& answers) {
  bytes out;
  put16(out, id);
  put16(out, static_cast<uint16_t>(response_bit | recursion_bits | flags));
  put16(out, 1);
  put16(out, static_cast<uint16_t>(answers.size()));
  put16(out, 0);
  put16(out, 0);
  bytes asked = name(question);
  out.insert(out.end(), asked.begin(), asked.end());
  put16(out, type);
  put16(out, 1);
  for (const bytes& answer : answers) out.insert(out.end(), answer.begin(), answer.end());
  return out;
}

}  // namespace dns_messages
