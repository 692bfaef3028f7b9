// The daemon with one trigger for the integration tests, never installed:
// a HELO of "forbidden-call.trigger.test" makes the filter process call
// ptrace, which its system-call list does not allow.
#include <libmilter/mfapi.h>
#include <sys/ptrace.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstring>

#include "filter/filter_description.hpp"
#include "monitor/run_daemon.hpp"

namespace {

sfsistat (*real_helo)(SMFICTX*, char*) = nullptr;

sfsistat helo_with_trigger(SMFICTX* context, char* name) {
  if (name != nullptr && std::strcmp(name, "forbidden-call.trigger.test") == 0) {
    (void)syscall(SYS_ptrace, PTRACE_TRACEME, 0, 0, 0);
  }
  return real_helo(context, name);
}

}  // namespace

int main(int argc, char** argv) {
  real_helo = filter_description.xxfi_helo;
  filter_description.xxfi_helo = helo_with_trigger;
  return run_daemon(argc, argv);
}
