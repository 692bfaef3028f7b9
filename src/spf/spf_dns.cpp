// The system resolver as the SPF evaluation's DNS source (see spf_dns.hpp).
#include "spf/spf_dns.hpp"

#include <resolv.h>

#include "dns/resolver_source.hpp"

// The calling thread's resolver state, read from /etc/resolv.conf at its
// first use unless the process did so already (the evaluation process does,
// before its system-call list forbids opening files).
std::unique_ptr<dns_source> make_spf_dns(std::chrono::steady_clock::time_point deadline) {
  if ((_res.options & RES_INIT) == 0) (void)res_init();
  return std::make_unique<resolver_source>(&_res, deadline);
}
