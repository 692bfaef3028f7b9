// The filter program with one trigger for the integration tests, never
// installed: a HELO of "forbidden-call.trigger.test" makes the filter
// process call ptrace, which its system-call list does not allow. Linked
// into a copy of teslo-filter (see ../CMakeLists.txt); the trigger is put
// into the callback table before main runs.
#include <libmilter/mfapi.h>
#include <sys/ptrace.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstring>

#include "filter/filter_description.hpp"

namespace {

sfsistat (*real_helo)(SMFICTX*, char*) = nullptr;

sfsistat helo_with_trigger(SMFICTX* context, char* name) {
  if (name != nullptr && std::strcmp(name, "forbidden-call.trigger.test") == 0) {
    (void)syscall(SYS_ptrace, PTRACE_TRACEME, 0, 0, 0);
  }
  return real_helo(context, name);
}

// The table is constant-initialised, so it is complete before this runs.
const bool trigger_installed = [] {
  real_helo = filter_description.xxfi_helo;
  filter_description.xxfi_helo = helo_with_trigger;
  return true;
}();

}  // namespace
