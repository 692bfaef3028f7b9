// A teslo-spf for the tests: the real evaluation process (start-up, list,
// one question) over an in-memory zone whose names stand for what an
// attacker could make the evaluation do in its process. Every name below
// holds "v=spf1 ip4:192.0.2.0/24 -all", so a sender there passes when its
// behaviour does not end the process:
//   crash.example   aborts            hang.example    sleeps 30 seconds
//   exec.example    executes a program
//   open.example    opens /etc/passwd (aborts if that works)
//   root.example    aborts where root is in reach
//   prctl.example   asks whether new privileges may be gained
//   pass.example    nothing
// Started by the test spawner beside it; channel at descriptor 3.
#include <arpa/nameser.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

#include "checks/offline_answers.hpp"
#include "sandbox/helper_program.hpp"
#include "support/scripted_spf_dns.hpp"
#include "spf_evaluator/evaluator_process.hpp"

namespace {

using clock_type = std::chrono::steady_clock;

const char* const names[] = {"crash.example", "hang.example",  "exec.example", "open.example",
                             "root.example",  "prctl.example", "pass.example"};

void act_for(const std::string& name) {
  if (name == "crash.example") std::abort();
  if (name == "hang.example") std::this_thread::sleep_for(std::chrono::seconds(30));
  if (name == "exec.example") {
    char* no_arguments[] = {nullptr};
    execve("/bin/true", no_arguments, no_arguments);
  }
  if (name == "open.example") {
    if (std::FILE* file = std::fopen("/etc/passwd", "r"); file != nullptr) std::abort();
  }
  if (name == "root.example" && (getuid() == 0 || geteuid() == 0 || getgid() == 0)) std::abort();
  if (name == "prctl.example") (void)prctl(PR_GET_NO_NEW_PRIVS, 0, 0, 0, 0);
}

class acting_zone : public dns_source {
 public:
  explicit acting_zone(clock_type::time_point deadline)
      : zone_(offline_answers::make_zone_dns(deadline)) {}
  dns_reply lookup(const std::string& name, dns_type type) override {
    act_for(name);
    return zone_->lookup(name, type);
  }

 private:
  std::unique_ptr<dns_source> zone_;
};

std::unique_ptr<dns_source> make_acting_zone(clock_type::time_point deadline) {
  return std::make_unique<acting_zone>(deadline);
}

}  // namespace

int main() {
  offline_answers::new_spf_zone("test helper");
  for (const char* name : names) {
    (void)offline_answers::add_zone_record(name, ns_t_txt, "v=spf1 ip4:192.0.2.0/24 -all");
  }
  (void)set_spf_dns_maker(make_acting_zone);
  run_spf_evaluator(helper_channel_fd);
}
