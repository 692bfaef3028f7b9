// Where the SPF evaluation gets its DNS answers: the resolver in the
// evaluation process, an in-memory zone in the tests.
//
// ask_ahead starts a question whose answer will soon be wanted, so that
// independent questions travel together; lookup gives the answer, asking
// then if it was not asked ahead. Names are given without a final dot and
// are absolute. One source serves one evaluation on one thread.
#pragma once

#include <string>

#include "dns/dns_reply.hpp"

class dns_source {
 public:
  virtual ~dns_source() = default;
  virtual void ask_ahead(const std::string& /*name*/, dns_type /*type*/) {}
  virtual dns_reply lookup(const std::string& name, dns_type type) = 0;
};
