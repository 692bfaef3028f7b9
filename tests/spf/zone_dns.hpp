// An in-memory DNS zone for SPF tests: answers as a server holding exactly
// these records would, with CNAMEs followed and names compared without
// case; a name marked to time out answers "failed" for every type it holds
// no record of (as the RFC 7208 suite's TIMEOUT means). Records every
// question asked, in order.
#pragma once

#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "dns/dns_source.hpp"

class zone_dns : public dns_source {
 public:
  void add_txt(const std::string& name, const std::string& text);
  void add_address(const std::string& name, const std::string& address_text);
  void add_mx(const std::string& name, const std::string& exchange);
  void add_ptr(const std::string& name, const std::string& target);
  void add_cname(const std::string& name, const std::string& target);
  void add_name(const std::string& name);  // exists, with no records
  void time_out(const std::string& name);

  dns_reply lookup(const std::string& name, dns_type type) override;
  void ask_ahead(const std::string& name, dns_type type) override;

  std::vector<std::pair<std::string, dns_type>> asked;        // by lookup
  std::vector<std::pair<std::string, dns_type>> asked_ahead;  // by ask_ahead

 private:
  dns_reply answer(const std::string& name, dns_type type, int depth) const;

  struct node {
    std::vector<std::string> texts, mx, ptr;
    std::vector<ip_address> addresses;
    std::string cname;
  };
  std::map<std::string, node> names_;
  std::set<std::string> timeouts_;
};
