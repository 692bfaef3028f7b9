// The in-memory zone of the SPF tests (see zone_dns.hpp).
#include "spf/zone_dns.hpp"

#include <algorithm>

#include "spf/check_host.hpp"

namespace {

std::string key(std::string name) {
  if (!name.empty() && name.back() == '.') name.pop_back();
  std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) {
    return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
  });
  return name;
}

}  // namespace

void zone_dns::add_txt(const std::string& name, const std::string& text) {
  names_[key(name)].texts.push_back(text);
}

void zone_dns::add_address(const std::string& name, const std::string& address_text) {
  ip_address address;
  if (parse_ip_address(address_text, address)) names_[key(name)].addresses.push_back(address);
}

void zone_dns::add_mx(const std::string& name, const std::string& exchange) {
  names_[key(name)].mx.push_back(key(exchange));
}

void zone_dns::add_ptr(const std::string& name, const std::string& target) {
  names_[key(name)].ptr.push_back(key(target));
}

void zone_dns::add_cname(const std::string& name, const std::string& target) {
  names_[key(name)].cname = key(target);
}

void zone_dns::add_name(const std::string& name) { (void)names_[key(name)]; }

void zone_dns::time_out(const std::string& name) { timeouts_.insert(key(name)); }

void zone_dns::ask_ahead(const std::string& name, dns_type type) {
  asked_ahead.emplace_back(name, type);
}

dns_reply zone_dns::lookup(const std::string& name, dns_type type) {
  asked.emplace_back(name, type);
  return answer(key(name), type, 0);
}

dns_reply zone_dns::answer(const std::string& name, dns_type type, int depth) const {
  dns_reply reply;
  if (depth > 8) return reply;  // failed
  auto found = names_.find(name);
  if (found == names_.end()) {
    if (timeouts_.count(name) != 0) return reply;  // failed
    reply.status = dns_reply::nxdomain;
    return reply;
  }
  const node& records = found->second;
  switch (type) {
    case dns_type::txt: reply.texts = records.texts; break;
    case dns_type::mx: reply.names = records.mx; break;
    case dns_type::ptr: reply.names = records.ptr; break;
    case dns_type::a:
    case dns_type::aaaa:
      for (const ip_address& address : records.addresses) {
        if (address.v6 == (type == dns_type::aaaa)) reply.addresses.push_back(address);
      }
      break;
  }
  bool empty = reply.texts.empty() && reply.names.empty() && reply.addresses.empty();
  if (empty && timeouts_.count(name) != 0) return dns_reply{};  // failed
  if (empty && !records.cname.empty()) return answer(records.cname, type, depth + 1);
  reply.status = empty ? dns_reply::nodata : dns_reply::found;
  return reply;
}
