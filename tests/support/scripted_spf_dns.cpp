// The scripted DNS source of SPF evaluations (see scripted_spf_dns.hpp).
#include "support/scripted_spf_dns.hpp"

#include <atomic>

#include "spf/spf_dns.hpp"

namespace {

using clock_type = std::chrono::steady_clock;

// Answers as an empty zone would.
class no_names final : public dns_source {
 public:
  dns_reply lookup(const std::string& /*name*/, dns_type /*type*/) override {
    dns_reply reply;
    reply.status = dns_reply::nxdomain;
    return reply;
  }
};

std::unique_ptr<dns_source> make_no_names(clock_type::time_point /*deadline*/) {
  return std::make_unique<no_names>();
}

std::atomic<spf_dns_maker> maker_in_force{make_no_names};

}  // namespace

spf_dns_maker set_spf_dns_maker(spf_dns_maker maker) {
  return maker_in_force.exchange(maker != nullptr ? maker : make_no_names);
}

std::unique_ptr<dns_source> make_spf_dns(clock_type::time_point deadline) {
  return maker_in_force.load()(deadline);
}
